#pragma once

#include "model/APrefs.h"
#include "model/FileLocator.h"
#include "model/Services.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cardmill {
class MInstFileInstrument;
class MSoundFile;
} // namespace cardmill

namespace cardmill::fuzz {

/// Finds every file a record names: a small looped WAV in memory, so that fuzzed instrument
/// files load their samples without touching the disk.
class MemoryLocator final : public FileLocator {
public:
    explicit MemoryLocator(Services& services)
        : shared(services)
    {
    }
    void NoteLoaded(const std::string&) override { }
    Result Locate(const FileRecord& record, const MReadableFileDispatcher&, bool) override;
    void SetProjectMove(const std::string&, const std::string&) override { }
    std::vector<std::string> TakeFoundElsewhere() override { return {}; }

private:
    Services& shared;
};

/// Services for one fuzz input: questions answered OK, nothing shown.
struct FuzzEnv {
    FuzzEnv() { services.locator = &locator; }
    ScriptedPrompter prompter { {}, Answer::Ok };
    ManualClock clock;
    MemorySettingsStore settings;
    APrefs prefs { settings };
    Services services { prompter, clock, prefs };
    MemoryLocator locator { services };
};

std::vector<std::uint8_t> Copy(const std::uint8_t* data, std::size_t size);

/// Loads an instrument that opened, and does with it all that a compile does.
void ExerciseInstrument(MInstFileInstrument& instrument);

/// Loads a sound that opened, and produces its whole card data and voice, as a compile would.
void ExerciseSound(MSoundFile& sound);

/// A sample a library gave as a WAV image (none when it gave none), read and exercised as a
/// sound inside a library is.
void ExerciseLibrarySample(FuzzEnv& env, std::optional<std::vector<std::uint8_t>> wav);

} // namespace cardmill::fuzz
