// Fuzz target: the reassembly of a captured transfer. An image it gives is as long as its card
// header says, and the blocks it names missing lie inside it.

#include "synth/CaptureReader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    std::string error;
    const auto card = ReassembleCapture({ data, size }, { 0x00, 0x00, 0x0E }, error);
    if (!card) {
        if (error.empty())
            std::abort();
        return 0;
    }
    for (const std::size_t block : card->missing)
        if (block * 1024 >= card->image.size())
            std::abort();
    (void)card->MissingText();
    return 0;
}
