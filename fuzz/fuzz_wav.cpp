// Fuzz target: the wav reader and everything a loaded sound does on the card, and the origin a
// fitted WAV file keeps (the same bytes read as an origin chunk's body).

#include "FuzzEnv.h"
#include "model/fit/FitPlan.h"
#include "model/sound/MSoundFileWAV.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    ReadFitOrigin(std::span(data, size));
    MSoundFileWAV sound(env.services);
    sound.AttachMemory(fuzz::Copy(data, size));
    if (sound.OpenSound("fuzz.wav"))
        fuzz::ExerciseSound(sound);
    return 0;
}
