#pragma once

#include "Builders.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cardmill::test {

/// A SoundFont built in memory: presets and instruments as lists of zones, each zone a list of
/// generators (operator, amount), and samples of 16-bit frames, or (SF3) of a compressed stream
/// whose start and end are byte offsets and whose loop is kept relative to the sample.
struct SoundFontBuilder {
    struct Zone {
        std::vector<std::pair<std::uint16_t, std::uint16_t>> generators;
        int modulators = 0;
    };
    struct Holder {
        std::string name;
        int bank = 0, program = 0;
        std::vector<Zone> zones;
    };
    struct Sample {
        std::string name;
        std::vector<std::int16_t> frames;
        std::uint32_t loopStart = 0, loopEnd = 0; // in the sample
        std::uint32_t rate = 22050;
        std::uint8_t pitch = 60;
        std::int8_t correction = 0;
        std::uint16_t type = 1;
        std::uint16_t link = 0; // the other side of a stereo sample
        std::vector<std::uint8_t> stream {}; // stored instead of the frames when not empty
    };

    static constexpr Endian le = Endian::Little;

    std::vector<Holder> presets, instruments;
    std::vector<Sample> samples;
    std::uint16_t major = 2, minor = 4;
    bool sm24 = false;

    static std::uint16_t Range(int low, int high)
    {
        return static_cast<std::uint16_t>(low | (high << 8));
    }
    static std::uint16_t Amount(int value) { return static_cast<std::uint16_t>(value); }

    static void Name(ByteWriter& out, const std::string& name)
    {
        out.Append(name.substr(0, 19)).Fill(20 - std::min<std::size_t>(name.size(), 19));
    }

    /// The header, bag, modulator and generator lists of presets or instruments.
    static void Lists(const std::vector<Holder>& holders, bool preset, ByteWriter& headers,
        ByteWriter& bags, ByteWriter& mods, ByteWriter& gens)
    {
        std::uint16_t bag = 0, gen = 0, mod = 0;
        for (const Holder& holder : holders) {
            Name(headers, holder.name);
            if (preset)
                headers.U16(Amount(holder.program), le).U16(Amount(holder.bank), le);
            headers.U16(bag, le);
            if (preset)
                headers.Fill(12);
            for (const Zone& zone : holder.zones) {
                bags.U16(gen, le).U16(mod, le);
                ++bag;
                for (const auto& [oper, amount] : zone.generators) {
                    gens.U16(oper, le).U16(amount, le);
                    ++gen;
                }
                for (int m = 0; m < zone.modulators; ++m) {
                    mods.U16(0x0502, le).U16(48, le).U16(960, le).U16(0, le).U16(0, le);
                    ++mod;
                }
            }
        }
        Name(headers, preset ? "EOP" : "EOI");
        if (preset)
            headers.Fill(4);
        headers.U16(bag, le);
        if (preset)
            headers.Fill(12);
        bags.U16(gen, le).U16(mod, le);
        gens.Fill(4);
        mods.Fill(10);
    }

    std::vector<std::uint8_t> Build() const
    {
        ByteWriter smpl, low, shdr;
        for (const Sample& sample : samples) {
            Name(shdr, sample.name);
            if (!sample.stream.empty()) {
                const auto at = static_cast<std::uint32_t>(smpl.Size());
                smpl.Append(sample.stream);
                shdr.U32(at, le).U32(at + static_cast<std::uint32_t>(sample.stream.size()), le);
                shdr.U32(sample.loopStart, le).U32(sample.loopEnd, le);
            } else {
                const auto start = static_cast<std::uint32_t>(smpl.Size() / 2);
                for (std::size_t i = 0; i < sample.frames.size(); ++i) {
                    smpl.U16(static_cast<std::uint16_t>(sample.frames[i]), le);
                    low.U8(static_cast<std::uint8_t>(i * 7));
                }
                smpl.Fill(2 * 46); // the 46 zero frames after every sample
                low.Fill(46);
                shdr.U32(start, le).U32(
                    start + static_cast<std::uint32_t>(sample.frames.size()), le);
                shdr.U32(start + sample.loopStart, le).U32(start + sample.loopEnd, le);
            }
            shdr.U32(sample.rate, le)
                .U8(sample.pitch)
                .U8(static_cast<std::uint8_t>(sample.correction));
            shdr.U16(sample.link, le).U16(sample.type, le);
        }
        Name(shdr, "EOS");
        shdr.Fill(26);
        ByteWriter phdr, pbag, pmod, pgen, inst, ibag, imod, igen;
        Lists(presets, true, phdr, pbag, pmod, pgen);
        Lists(instruments, false, inst, ibag, imod, igen);

        ByteWriter info, sdta, pdta;
        info.Append("INFO").Append(
            RiffChunk("ifil", ByteWriter().U16(major, le).U16(minor, le).Take()));
        sdta.Append("sdta").Append(RiffChunk("smpl", smpl.Take()));
        if (sm24)
            sdta.Append(RiffChunk("sm24", low.Take()));
        pdta.Append("pdta");
        for (auto [id, list] :
            std::initializer_list<std::pair<const char*, ByteWriter*>> { { "phdr", &phdr },
                { "pbag", &pbag }, { "pmod", &pmod }, { "pgen", &pgen }, { "inst", &inst },
                { "ibag", &ibag }, { "imod", &imod }, { "igen", &igen }, { "shdr", &shdr } })
            pdta.Append(RiffChunk(id, list->Take()));
        ByteWriter body;
        body.Append("sfbk");
        body.Append(RiffChunk("LIST", info.Take()))
            .Append(RiffChunk("LIST", sdta.Take()))
            .Append(RiffChunk("LIST", pdta.Take()));
        return RiffChunk("RIFF", body.Take());
    }
};

} // namespace cardmill::test
