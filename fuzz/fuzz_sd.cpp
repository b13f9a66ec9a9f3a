// Fuzz target: the sd reader and everything a loaded sound does on the card.

#include "FuzzEnv.h"
#include "model/sound/MSoundFileSFIL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MSoundFileSFIL sound(env.services);
    sound.AttachMemory(fuzz::Copy(data, size));
    if (sound.OpenSound("fuzz.sd"))
        fuzz::ExerciseSound(sound);
    return 0;
}
