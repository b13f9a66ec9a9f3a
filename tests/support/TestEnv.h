#pragma once

#include "model/APrefs.h"
#include "model/Services.h"
#include "platform/Clock.h"
#include "platform/RecordingProgressView.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

/// Shows nothing but keeps the percentages and counts the blocks; each look at the Stop button
/// asks `stop` (a check made at every step, or a Stop pressed at a chosen one).
class CallbackView final : public ProgressView {
public:
    explicit CallbackView(std::function<bool()> stopNow)
        : stop(std::move(stopNow))
    {
    }
    void SetBanner(std::string_view) override { }
    void SetPhase(std::string_view, std::string_view) override { }
    void SetSector(std::string_view, std::string_view) override { }
    void SetBlock(std::string_view, std::string_view) override { ++blocks; }
    void SetPercent(int percent) override { percents.push_back(percent); }
    bool StopRequested() const override { return stop(); }
    void ClearStop() override { }

    int blocks = 0;
    std::vector<int> percents;

private:
    std::function<bool()> stop;
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
std::string ReadText(const std::string& path);

/// A file of class T opened on bytes in memory under a path (its folder matters for sharing, its
/// name for messages), or nothing.
template <typename T>
std::unique_ptr<T> OpenInMemory(TestEnv& env, const std::vector<std::uint8_t>& bytes,
    const std::string& path, bool (T::*open)(const std::string&) = &T::OpenSound)
{
    auto file = std::make_unique<T>(env.services);
    file->AttachMemory(bytes);
    if (!(file.get()->*open)(path))
        return nullptr;
    return file;
}

/// The parts `text` does not contain: EXPECT_EQ(Missing(text, { ... }), Strings {}).
using Strings = std::vector<std::string>;
Strings Missing(std::string_view text, Strings parts);

/// "s7.wav" from ("s", 7, ".wav"), built by appending: g++ 12 at -O3 takes "s" + a temporary
/// string for an overlapping copy (a false -Wrestrict).
std::string Numbered(std::string_view stem, int number, std::string_view extension);

/// While it lives, the n-th write of the safe writes from now on fails as on a full disk.
class FailingWrite {
public:
    explicit FailingWrite(int nth);
    ~FailingWrite();
    FailingWrite(const FailingWrite&) = delete;
    FailingWrite& operator=(const FailingWrite&) = delete;
};

/// An environment variable set (or unset, with no value) while it lives; then as it was.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name;
    std::optional<std::string> previous;
};

} // namespace cardmill::test
