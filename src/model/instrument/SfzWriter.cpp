#include "model/instrument/SfzWriter.h"

#include "model/ASafeFile.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/MSoundFileEmbedded.h"
#include "platform/Prompter.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace cardmill {

namespace fs = std::filesystem;

std::pair<int, int> SfzLayerVelocities(int layer, int layers)
{
    const int low = layer == 0 ? 1 : 128 * layer / layers;
    const int high = 128 * (layer + 1) / layers - 1;
    return { low, high };
}

namespace {

/// The shortest decimal dB value that gives the card the same volume byte.
std::string VolumeText(float volume)
{
    const std::uint8_t target = VolumeByte(volume);
    if (target == 0)
        return "-144";
    char text[32];
    for (int digits = 0; digits <= 6; ++digits) {
        std::snprintf(text, sizeof text, "%.*f", digits, static_cast<double>(volume));
        if (VolumeByte(std::strtof(text, nullptr)) == target)
            break;
    }
    std::string out = text;
    return out == "-0" ? "0" : out;
}

std::string SlashPath(const fs::path& path)
{
    std::string text = path.generic_string();
    return text;
}

/// Picks the copies' names: one per source file, a number added where two sources share a name
/// or an unrelated file of that name is already there.
class SampleCopies {
public:
    explicit SampleCopies(fs::path folderPath)
        : folder(std::move(folderPath))
    {
    }

    std::optional<std::string> Place(const std::string& source, std::string& error)
    {
        return Place(source, fs::path(source), error);
    }

    /// A sample kept inside its instrument's file (a SoundFont's), written as a WAV file.
    std::optional<std::string> Place(const MSoundFileEmbedded& sound, std::string& error)
    {
        std::string name = sound.GetFileName();
        for (char& c : name)
            if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
                c = '_';
        const std::string key
            = sound.GetPath() + "\n" + name + "\n" + std::to_string(sound.GetFrameCount());
        return Place(key, fs::path(name + ".wav"), error, sound.WavBytes());
    }

private:
    std::optional<std::string> Place(const std::string& source, const fs::path& from,
        std::string& error, const std::optional<std::vector<std::uint8_t>>& bytes = std::nullopt)
    {
        const auto known = placed.find(source);
        if (known != placed.end())
            return known->second;
        std::error_code ec;
        for (int n = 1; n < 1000; ++n) {
            std::string name = from.filename().string();
            if (n > 1)
                name = from.stem().string() + "-" + std::to_string(n) + from.extension().string();
            const fs::path to = folder / name;
            if (fs::exists(to, ec)) {
                // The same file, or a sample written there before: used as it is.
                if (bytes ? !taken.contains(name) && SameBytes(to, *bytes)
                          : fs::equivalent(from, to, ec)) {
                    placed[source] = name;
                    return name;
                }
                continue;
            }
            if (taken.contains(name))
                continue;
            if (bytes ? !WriteNew(to, *bytes, ec) : !fs::copy_file(from, to, ec)) {
                error = "Sorry, but the sample '" + from.string() + "' can't be written to '"
                    + to.string() + "': " + ec.message() + ".";
                return std::nullopt;
            }
            taken.insert({ name, source });
            placed[source] = name;
            return name;
        }
        error = "Sorry, but no free name was found for a copy of '" + source + "'.";
        return std::nullopt;
    }

    static bool SameBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes)
    {
        std::error_code ec;
        if (fs::file_size(file, ec) != bytes.size() || ec)
            return false;
        std::ifstream in(file, std::ios::binary);
        std::vector<char> there(bytes.size());
        in.read(there.data(), static_cast<std::streamsize>(there.size()));
        return in
            && std::equal(there.begin(), there.end(), bytes.begin(),
                [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
    }

    static bool WriteNew(
        const fs::path& to, const std::vector<std::uint8_t>& bytes, std::error_code& ec)
    {
        std::ofstream out(to, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out && !bytes.empty())
            return true;
        ec = std::make_error_code(
            bytes.empty() ? std::errc::io_error : std::errc::no_space_on_device);
        fs::remove(to, ec);
        return false;
    }

    fs::path folder;
    std::map<std::string, std::string> placed; // source -> copy's name
    std::map<std::string, std::string> taken;
};

} // namespace

bool WriteSfzFile(ASafeFile& writer, Prompter& prompter, const std::string& destination,
    MInstFileInstrument& instrument, SfzSamples samples, std::vector<std::string>& notes)
{
    if (!instrument.IsLoaded() || instrument.Samples().empty()) {
        ReportFailure(prompter, "The instrument has no samples to write as an SFZ file.");
        return false;
    }
    const fs::path target = fs::absolute(fs::path(destination));
    const fs::path folder = target.parent_path();
    SampleCopies copies(folder);

    std::string text = "// " + instrument.GetFileName()
        + " as an SFZ instrument, written by Cardmill: one region per key group and layer.\n";
    const int groups = instrument.GroupCount();
    const int layers = instrument.GroupSize();
    const std::uint8_t* upper = instrument.UpperKeys();
    for (int g = 0; g < groups; ++g) {
        const int lokey = g == 0 ? 0 : upper[g - 1] + 1;
        const int hikey = upper[g];
        for (int layer = 0; layer < layers; ++layer) {
            const MSoundFile* sound = instrument.SampleAt(g, layer);
            if (!sound) {
                notes.push_back("key group " + std::to_string(g + 1) + " layer "
                    + std::to_string(layer + 1) + " has no sample; left out");
                continue;
            }
            std::string sample;
            if (const auto* inside = dynamic_cast<const MSoundFileEmbedded*>(sound)) {
                std::string error;
                const auto name = copies.Place(*inside, error);
                if (!name) {
                    ReportFailure(prompter, error);
                    return false;
                }
                sample = *name;
            } else if (samples == SfzSamples::Copy) {
                std::string error;
                const auto name = copies.Place(sound->GetPath(), error);
                if (!name) {
                    ReportFailure(prompter, error);
                    return false;
                }
                sample = *name;
            } else {
                sample = SlashPath(fs::absolute(sound->GetPath()).lexically_relative(folder));
                if (sample.empty())
                    sample = SlashPath(fs::absolute(sound->GetPath()));
            }
            const SampleParams& p = sound->Params();
            std::string region
                = "<region> lokey=" + std::to_string(lokey) + " hikey=" + std::to_string(hikey);
            if (layers > 1) {
                const auto [lovel, hivel] = SfzLayerVelocities(layer, layers);
                region += " lovel=" + std::to_string(lovel) + " hivel=" + std::to_string(hivel);
            }
            region += " pitch_keycenter=" + std::to_string(p.rootKey);
            const long cents = std::lround(p.fineTune / 256.0);
            if (cents != 0)
                region += " tune=" + std::to_string(cents);
            if (cents * 256 != p.fineTune)
                notes.push_back("'" + sound->GetFileName()
                    + "': fine tune rounded to whole cents, as SFZ gives it");
            region += " volume=" + VolumeText(p.volume);
            if (p.startFrame != 0)
                region += " offset=" + std::to_string(p.startFrame);
            if (p.looping)
                region += " loop_mode=loop_continuous loop_start=" + std::to_string(p.loopStart)
                    + " loop_end=" + std::to_string(p.loopEnd);
            else
                region += " loop_mode=no_loop";
            if (sound->IsStereo() && p.channel != 0)
                notes.push_back("'" + sound->GetFileName() + "': the card plays only its "
                    + (p.channel == 1 ? "left" : "right") + " channel; the SFZ plays both");
            if (p.paramByte2 != 0)
                notes.push_back("'" + sound->GetFileName()
                    + "': its loop tuning value has no SFZ opcode; left out");
            // The sample last: its value runs to the end of the line, blanks and all.
            text += region + " sample=" + sample + "\n";
        }
    }

    std::unique_ptr<SafeOutput> file;
    std::string backupName;
    if (!writer.CreateSafely(target.string(), false, file, backupName))
        return false;
    if (!file->Write(std::string_view(text))) {
        writer.ReportWriteError(file.get());
        writer.AbortSafely(target.string(), false, file, backupName);
        return false;
    }
    return writer.CommitSafely(target.string(), false, file, backupName);
}

} // namespace cardmill
