// Fuzz target: the SampleCell reader of the second layout; every sound file it names is
// found in memory. The class follows the type code at offset 8, as the interpreter's does.

#include "FuzzEnv.h"
#include "model/MInstFileSampleCell.h"

namespace {

using namespace cardmill;

std::unique_ptr<MInstFileSampleCell> ClassFor(Services& services, std::span<const std::uint8_t> data)
{
    switch (MSampleCellFormatInterpreter::TypeAt(data.first(std::min<std::size_t>(data.size(), 12))).value_or(SampleCellType::In)) {
    case SampleCellType::In:
        return std::make_unique<MInstFileSCin_2>(services);
    case SampleCellType::Sd:
        return std::make_unique<MInstFileSCsd_2>(services);
    case SampleCellType::Si:
        return std::make_unique<MInstFileSCsi_2>(services);
    case SampleCellType::Ss:
        break;
    }
    return std::make_unique<MInstFileSCss_2>(services);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzEnv env;
    auto instrument = ClassFor(env.services, {data, size});
    instrument->AttachMemory(fuzz::Copy(data, size));
    if (instrument->OpenSampleCell("fuzz.ins"))
        fuzz::ExerciseInstrument(*instrument);
    return 0;
}
