// Fuzz target: the wav reader and everything a loaded sound does on the card.

#include "FuzzEnv.h"
#include "model/sound/MSoundFileWAV.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MSoundFileWAV sound(env.services);
    sound.AttachMemory(fuzz::Copy(data, size));
    if (sound.OpenSound("fuzz.wav"))
        fuzz::ExerciseSound(sound);
    return 0;
}
