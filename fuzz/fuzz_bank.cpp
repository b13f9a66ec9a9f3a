// Fuzz target: the SysEx bank reader. The input is laid over a valid capture (so the fuzzer
// reaches the checks and the unpacking of every message), or taken as it is when it is a whole
// capture of its own.

#include "FuzzEnv.h"
#include "model/bank/MParamFileRawSex.h"
#include "platform/ProgressView.h"

#include <cstring>

namespace {

using cardmill::MParamFileRawSex;

/// A capture whose messages all carry the right header and zero data.
std::vector<std::uint8_t> Template(std::uint16_t family)
{
    struct Section {
        std::size_t offset;
        int messages;
        std::size_t bytes;
    };
    static const Section kZelta[]
        = { { 0, 128, 408 }, { 52224, 128, 83 }, { 62848, 100, 166 }, { 79448, 1, 31 } };
    static const Section kPercula[] = { { 0, 128, 198 }, { 25344, 64, 36 }, { 27648, 64, 648 } };
    const bool zelta = family == 0x0E;
    std::vector<std::uint8_t> file(
        zelta ? MParamFileRawSex::kZeltaFileBytes : MParamFileRawSex::kPerculaFileBytes);
    for (const Section& section :
        zelta ? std::span<const Section>(kZelta) : std::span<const Section>(kPercula)) {
        for (int m = 0; m < section.messages; ++m) {
            std::uint8_t* message
                = file.data() + section.offset + section.bytes * static_cast<std::size_t>(m);
            const std::uint8_t head[]
                = { 0xF0, 0x00, 0x00, 0x0E, static_cast<std::uint8_t>(family), 0, 0 };
            std::memcpy(message, head, sizeof head);
            message[section.bytes - 1] = 0xF7;
        }
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    if (size < 4)
        return 0;
    std::vector<std::uint8_t> capture;
    if (size == MParamFileRawSex::kZeltaFileBytes || size == MParamFileRawSex::kPerculaFileBytes) {
        capture = fuzz::Copy(data, size);
    } else {
        capture = Template(data[0] & 1 ? 0x19 : 0x0E);
        const std::size_t at
            = (std::size_t { data[1] } << 16 | std::size_t { data[2] } << 8 | data[3])
            % capture.size();
        const std::size_t count = std::min(size - 4, capture.size() - at);
        std::memcpy(capture.data() + at, data + 4, count);
    }
    fuzz::FuzzEnv env;
    MParamFileRawSex bank(env.services);
    bank.AttachMemory(std::move(capture));
    if (!bank.OpenBank("fuzz.syx"))
        return 0;
    int result = 0;
    while ((result = bank.LoadStep()) == 0) { }
    if (result == 1) {
        NullProgressView progress;
        std::vector<std::uint8_t> out(65536);
        bank.CompileBank(progress, out);
    }
    bank.Duplicate();
    bank.GetInfoLine1();
    return 0;
}
