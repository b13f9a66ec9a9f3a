// Fuzz target: the transfer journal's reader. A record it accepts must read back the same after
// it is written again, and planning a transfer from it must hold in every mode.

#include "synth/TransferJournal.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    const auto record
        = TransferJournal::Parse(std::string(reinterpret_cast<const char*>(data), size));
    if (!record)
        return 0;
    const auto again = TransferJournal::Parse(TransferJournal::Format(*record));
    if (!again || again->sectors != record->sectors || again->imageSize != record->imageSize
        || again->cardSize != record->cardSize || again->imageHash != record->imageHash)
        std::abort();
    const auto image = ImageDigest::Of({ data, size });
    for (const auto mode : { TransferMode::Resume, TransferMode::Since, TransferMode::Offer }) {
        const auto plan = PlanTransfer(mode, record, "", image, record->cardSize, &image, "x");
        if (!plan.write.empty() && plan.write.size() != image.sectors.size())
            std::abort();
    }
    return 0;
}
