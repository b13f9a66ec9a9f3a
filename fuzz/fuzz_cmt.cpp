// Fuzz target: the Cardmill instrument reader; every sample it names is found in memory.

#include "FuzzEnv.h"
#include "model/instrument/MInstFileCardmill.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MInstFileCardmill instrument(env.services);
    instrument.AttachMemory(fuzz::Copy(data, size));
    if (instrument.OpenInstrument("fuzz.cmt"))
        fuzz::ExerciseInstrument(instrument);
    return 0;
}
