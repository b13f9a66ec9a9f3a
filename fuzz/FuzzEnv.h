#pragma once

#include "model/APrefs.h"
#include "model/Services.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <cstdint>
#include <span>
#include <vector>

namespace cardmill {
class MSoundFile;
}

namespace cardmill::fuzz {

/// Services for one fuzz input: questions answered OK, nothing shown.
struct FuzzEnv {
    ScriptedPrompter prompter {{}, Answer::Ok};
    ManualClock clock;
    MemorySettingsStore settings;
    APrefs prefs {settings};
    Services services {prompter, clock, prefs};
};

std::vector<std::uint8_t> Copy(const std::uint8_t* data, std::size_t size);

/// Loads a sound that opened, and produces its whole card data and voice, as a compile would.
void ExerciseSound(MSoundFile& sound);

} // namespace cardmill::fuzz
