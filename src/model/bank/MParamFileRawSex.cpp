#include "model/bank/MParamFileRawSex.h"

#include "model/DeviceFamily.h"
#include "model/MProject.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <new>
#include <optional>

namespace cardmill {

namespace {

/// One section of a capture: its messages, where they start in the file, how long each is, how
/// many bytes each unpacks to and where those go in the bank buffer.
struct Section {
    std::size_t fileOffset;
    int messages;
    std::size_t messageBytes;
    std::size_t unpackedBytes; // 0: the header is checked only
    std::size_t unpackedOffset;
};

constexpr Section kZeltaSections[] = {
    { 0, 128, 408, 350, 0 },
    { 52224, 128, 83, 65, 44800 },
    { 62848, 100, 166, 138, 53120 },
    { 79448, 1, 31, 0, 0 },
};

constexpr Section kPerculaSections[] = {
    { 0, 128, 198, 166, 0 },
    { 25344, 64, 36, 24, 21248 },
    { 27648, 64, 648, 560, 22784 },
};

constexpr std::size_t kMessageData = 7;

/// The family code of a capture's first bytes: bytes 4 and 5 little-endian, 0 when neither.
std::uint16_t FamilyOf(const ByteReader& head)
{
    const auto code = head.U16At(4, Endian::Little);
    return code && (*code == 0x0E || *code == 0x19) ? *code : 0;
}

bool StartsWithMaker(const ByteReader& bytes, std::size_t at, const MakerId& maker)
{
    return bytes.U8At(at) == 0xF0 && bytes.U8At(at + 1) == maker[0]
        && bytes.U8At(at + 2) == maker[1] && bytes.U8At(at + 3) == maker[2];
}

} // namespace

MParamFileRawSex::MParamFileRawSex(Services& services)
    : MParamFile(services)
{
}

bool MParamFileRawSex::OpenBank(const std::string& path)
{
    if (!SetFile(path))
        return false;
    std::uint8_t head[20];
    const bool read = Seek(0) && Read(head);
    CloseStream();
    if (!read)
        return false;
    const ByteReader bytes(head);
    family = FamilyOf(bytes);
    if (!StartsWithMaker(bytes, 0, services.makerId) || family == 0 || bytes.U8At(6) != 0)
        return false;
    sourceModel
        = family == 0x0E ? static_cast<std::uint8_t>((bytes.U8At(18).value_or(0) >> 1) & 3) : 0;
    return true;
}

std::size_t MParamFileRawSex::CompiledBankBytes() const
{
    return family == 0x19 ? kPerculaBankBytes : kZeltaBankBytes;
}

std::string MParamFileRawSex::GetFormatName() const
{
    return family == 0x19 ? "Percula SysEx Capture" : "Zelta SysEx Capture";
}

std::string MParamFileRawSex::GetInfoLine1() const
{
    static const char* const kZeltaSources[]
        = { "ZeltaSynth", "Zelta A", "Zelta B / Zelta C", "unknown" };
    if (family == 0x0E)
        return std::string("Source: ") + kZeltaSources[sourceModel & 3];
    return std::string("Source: ") + (family == 0x19 ? "Percula" : "unknown");
}

std::string MParamFileRawSex::GetInfoLine3() const
{
    return Format("%lu bytes", static_cast<unsigned long>(fileSize));
}

bool MParamFileRawSex::UpdateCompiledSize()
{
    const bool changed = compiledSize != MProject::kBankBytes;
    compiledSize = MProject::kBankBytes;
    return changed;
}

int MParamFileRawSex::LoadStep()
{
    const std::string name = GetFileName();
    switch (loadState) {
    case 0: {
        services.Progress().SetPhase("Opening SysEx File:  ", name);
        services.Progress().SetSector("", "");
        SetShortName("Bank 1");
        const MProject* project = services.project;
        if (project && project->GetTarget() != family && !services.projectLoading) {
            const std::string fileFamily = GetFamilyName(family);
            const std::string target = GetFamilyName(project->GetTarget());
            const std::string warning = "The SysEx file '" + name + "' is for a " + fileFamily
                + ", but you have specified a target of '" + target
                + "' in the Card Info dialog.\n\n"
                + "You can still use this file in the project if you wish, but it will not work on "
                  "a "
                + target + ".";
            if (services.prompter.Show(warning, Icon::Warning, Buttons::OkCancel) != Answer::Ok)
                return -1;
        }
        loadState = 1;
        return 0;
    }
    case 1:
        try {
            bank.assign(FileBytes(), 0);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        loadState = 2;
        return 0;
    case 2: {
        const bool read = Seek(0) && Read(bank);
        CloseStream();
        if (!read)
            return -1;
        loadState = 3;
        return 0;
    }
    case 3:
        if (!CheckAndUnpack())
            return -1;
        loadState = 4;
        UpdateCompiledSize();
        return 1;
    default:
        return 1;
    }
}

bool MParamFileRawSex::Unpack(std::span<const std::uint8_t> packed, std::span<std::uint8_t> out)
{
    const std::size_t groups = out.size() / 7;
    const std::size_t rest = out.size() % 7;
    if (packed.size() < groups * 8 + (rest ? rest + 1 : 0))
        return false;
    // out_k = (p_k >> k) | (p_(k+1) << (7 - k)), kept to 8 bits: a little-endian stream of 7-bit
    // units. Each group of 7 (or the rest) reads one packed byte more than it writes.
    const auto group = [](std::span<const std::uint8_t> p, std::span<std::uint8_t> o) {
        for (std::size_t k = 0; k < o.size(); ++k)
            o[k] = static_cast<std::uint8_t>((p[k] >> k) | (p[k + 1] << (7 - k)));
    };
    for (std::size_t g = 0; g < groups; ++g)
        group(packed.subspan(8 * g, 8), out.subspan(7 * g, 7));
    if (rest)
        group(packed.subspan(8 * groups, rest + 1), out.subspan(7 * groups, rest));
    return true;
}

namespace {

/// `count` bytes of `area` from `offset`, or nothing when they do not lie wholly inside it.
std::optional<std::span<std::uint8_t>> Within(
    std::span<std::uint8_t> area, std::size_t offset, std::size_t count)
{
    if (offset > area.size() || area.size() - offset < count)
        return std::nullopt;
    return area.subspan(offset, count);
}

} // namespace

bool MParamFileRawSex::CheckAndUnpack()
{
    const std::span<const Section> sections = family == 0x19
        ? std::span<const Section>(kPerculaSections)
        : std::span<const Section>(kZeltaSections);
    const ByteReader bytes(bank);
    std::vector<std::uint8_t> packed;
    for (const Section& section : sections) {
        for (int i = 0; i < section.messages; ++i) {
            const std::size_t at
                = section.fileOffset + section.messageBytes * static_cast<std::size_t>(i);
            if (!StartsWithMaker(bytes, at, services.makerId) || bytes.U8At(at + 4) != family) {
                ReportFailure(services.prompter,
                    "The file '" + GetFileName() + "' does not contain a valid "
                        + (family == 0x19 ? "Percula" : "Zeltasynth") + " SysEx dump.");
                return false;
            }
            if (section.unpackedBytes == 0)
                continue;
            const auto message
                = bytes.SubAt(at + kMessageData, section.messageBytes - kMessageData);
            const std::size_t to
                = section.unpackedOffset + section.unpackedBytes * static_cast<std::size_t>(i);
            const auto destination = Within(bank, to, section.unpackedBytes);
            if (!message || !destination)
                return false;
            // Each destination lies before its source; the copy keeps that from mattering.
            packed.assign(message->Data().begin(), message->Data().end());
            if (!Unpack(packed, *destination))
                return false;
        }
    }
    return true;
}

int MParamFileRawSex::CompileBank(ProgressView& progress, std::span<std::uint8_t> destination)
{
    progress.SetPhase(
        family == 0x19 ? "Compiling Percula SysEx File:  " : "Compiling Zeltasynth SysEx File:  ",
        GetFileName());
    if (bank.size() != FileBytes() || destination.size() < CompiledBankBytes())
        return -1;
    const ByteReader source(bank);
    bool inside = true;
    const auto copy = [&](std::size_t to, std::size_t from, std::size_t count) {
        const auto bytes = source.SubAt(from, count);
        const auto target = Within(destination, to, count);
        if (!bytes || !target) {
            inside = false;
            return;
        }
        std::ranges::copy(bytes->Data(), target->begin());
    };
    if (family == 0x19) {
        for (std::size_t i = 0; i < 128; ++i)
            copy(166 * i, 166 * i, 166);
        for (std::size_t i = 0; i < 64; ++i)
            copy(21248 + 560 * i, 22784 + 560 * i, 560);
        for (std::size_t i = 0; i < 64; ++i)
            copy(57088 + 24 * i, 21248 + 24 * i, 24);
    } else {
        for (std::size_t i = 0; i < 128; ++i)
            copy(349 * i, 350 * i + 1, 349);
        for (std::size_t i = 0; i < 100; ++i)
            copy(44672 + 138 * i, 53120 + 138 * i, 138);
        for (std::size_t i = 0; i < 128; ++i)
            copy(58472 + 55 * i, 44800 + 65 * i, 55);
    }
    return inside ? 1 : -1;
}

std::unique_ptr<MReadableFile> MParamFileRawSex::Duplicate() const
{
    auto copy = std::make_unique<MParamFileRawSex>(services);
    copy->CopyReadableFrom(*this);
    copy->sourceModel = sourceModel;
    copy->family = family;
    copy->bank = bank;
    copy->loadState = loadState;
    return copy;
}

bool MRawSexFormatInterpreter::Recognises(const std::string& path) const
{
    if (path.empty())
        return false;
    MReadableFile probe(services);
    std::uint8_t head[7];
    if (!probe.SetFile(path)
        || (probe.FileSize() != MParamFileRawSex::kZeltaFileBytes
            && probe.FileSize() != MParamFileRawSex::kPerculaFileBytes)
        || !probe.Read(head))
        return false;
    const ByteReader bytes(head);
    return StartsWithMaker(bytes, 0, services.makerId) && FamilyOf(bytes) != 0
        && bytes.U8At(6) == 0;
}

std::unique_ptr<MReadableFile> MRawSexFormatInterpreter::Create(const std::string& path) const
{
    auto bank = std::make_unique<MParamFileRawSex>(services);
    if (!bank->OpenBank(path))
        return nullptr;
    return bank;
}

} // namespace cardmill
