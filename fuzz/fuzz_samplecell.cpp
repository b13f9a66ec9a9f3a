// Fuzz target: the SampleCell readers of the PC and second layouts, tried in that order as the
// interpreter does, the class following the type code at offset 8. Every sound file a zone names
// is found in memory.

#include "FuzzEnv.h"
#include "model/instrument/MInstFileSampleCell.h"

namespace {

using namespace cardmill;

template <SampleCellType Type>
std::unique_ptr<MInstFileSampleCell> Open(
    Services& services, const std::vector<std::uint8_t>& bytes)
{
    std::unique_ptr<MInstFileSampleCell> candidates[]
        = { std::make_unique<MInstFileSCType<MInstFileSampleCell_PC, Type>>(services),
              std::make_unique<MInstFileSCType<MInstFileSampleCell_2, Type>>(services) };
    for (auto& candidate : candidates) {
        candidate->AttachMemory(bytes);
        if (candidate->OpenSampleCell("fuzz.ins"))
            return std::move(candidate);
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzEnv env;
    const auto bytes = fuzz::Copy(data, size);
    std::unique_ptr<MInstFileSampleCell> instrument;
    switch (MSampleCellFormatInterpreter::TypeAt(
        std::span(bytes).first(std::min<std::size_t>(size, 12)))
                .value_or(SampleCellType::In)) {
    case SampleCellType::In:
        instrument = Open<SampleCellType::In>(env.services, bytes);
        break;
    case SampleCellType::Sd:
        instrument = Open<SampleCellType::Sd>(env.services, bytes);
        break;
    case SampleCellType::Si:
        instrument = Open<SampleCellType::Si>(env.services, bytes);
        break;
    case SampleCellType::Ss:
        instrument = Open<SampleCellType::Ss>(env.services, bytes);
        break;
    }
    if (instrument)
        fuzz::ExerciseInstrument(*instrument);
    return 0;
}
