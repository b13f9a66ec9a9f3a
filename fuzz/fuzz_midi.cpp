// Fuzz target: the standard MIDI file reader and the whole conversion into the card's format,
// and the notes `play --midi` takes from the same bytes.

#include "FuzzEnv.h"
#include "compiler/VoicePlayer.h"
#include "model/sequence/MSeqFileMidi.h"
#include "platform/ProgressView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    std::vector<NoteEvent> notes;
    std::string error;
    if (!ReadMidiNotes({ data, size }, notes, error) && error.empty())
        __builtin_trap();
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
