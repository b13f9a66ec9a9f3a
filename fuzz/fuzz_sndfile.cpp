// Fuzz target: sounds decoded through libsndfile (FLAC, Ogg Vorbis, Wave64, CAF), the WAV image
// made of them, and everything a loaded sound does on the card.

#include "FuzzEnv.h"
#include "model/sound/MSoundFileSndfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    fuzz::FuzzEnv env;
    MSoundFileSndfile sound(env.services);
    sound.AttachMemory(fuzz::Copy(data, size));
    if (sound.OpenSound("fuzz.flac"))
        fuzz::ExerciseSound(sound);
    return 0;
}
