#pragma once

#include "model/APrefs.h"
#include "model/Services.h"
#include "platform/Clock.h"
#include "platform/RecordingProgressView.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cardmill::test {

/// The application-wide services a model object needs, all as doubles.
struct TestEnv {
    TestEnv() { services.SetProgress(&progress); }

    ScriptedPrompter prompter;
    ManualClock clock;
    MemorySettingsStore settings;
    APrefs prefs { settings };
    RecordingProgressView progress;
    Services services { prompter, clock, prefs };
};

/// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    /// The path of a file in the folder.
    std::string File(const std::string& name) const { return path + "/" + name; }
    /// Writes a file in the folder and returns its path.
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string path;
};

std::vector<std::uint8_t> ReadFile(const std::string& path);

} // namespace cardmill::test
