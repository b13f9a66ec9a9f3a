// Fuzz target: the standard MIDI file reader and the whole conversion into the card's format.

#include "FuzzEnv.h"
#include "model/sequence/MSeqFileMidi.h"
#include "platform/ProgressView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MSeqFileMidi sequence(env.services);
    sequence.AttachMemory(fuzz::Copy(data, size));
    if (!sequence.OpenSequence("fuzz.mid"))
        return 0;
    while (sequence.LoadStep() == 0) { }
    NullProgressView progress;
    sequence.CompiledSequence(progress, true);
    sequence.Duplicate();
    return 0;
}
