// Fuzz target: the aiff reader and everything a loaded sound does on the card.

#include "FuzzEnv.h"
#include "model/sound/MSoundFileAIFF.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MSoundFileAIFF sound(env.services);
    sound.AttachMemory(fuzz::Copy(data, size));
    if (sound.OpenSound("fuzz.aiff"))
        fuzz::ExerciseSound(sound);
    return 0;
}
