// Fuzz target: the SFZ reader. The input is the instrument and every file it includes; every
// sample it names is found in memory.

#include "FuzzEnv.h"
#include "model/instrument/MInstFileSfz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    const std::string text(reinterpret_cast<const char*>(data), size);
    MInstFileSfz instrument(env.services);
    instrument.SetIncludeReader([&text](const std::string&) { return text; });
    instrument.AttachMemory(fuzz::Copy(data, size));
    if (instrument.OpenSfz("fuzz.sfz"))
        fuzz::ExerciseInstrument(instrument);
    return 0;
}
