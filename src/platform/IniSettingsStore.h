#pragma once

#include "SettingsStore.h"

#include <string>
#include <vector>

namespace cardmill {

/// Settings kept in an INI file ("[Section]" lines, "Key=Value" lines). Lines it does not know
/// (comments, other keys) are kept as they are when the file is written back; writing goes
/// through a temporary file that replaces the old one only when complete.
class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(std::string filePath);

    std::vector<std::pair<std::string, std::string>> Entries(
        const std::string& section) const override;
    std::optional<std::string> Find(
        const std::string& section, const std::string& key) const override;
    void Put(const std::string& section, const std::string& key, const std::string& value) override;
    bool Flush() override;
    /// Reads the file again; values put and not yet flushed are dropped.
    void Reload() override;

    const std::string& Path() const { return path; }

    /// The settings folder: `overrideDir` when given, else $CARDMILL_CONFIG_DIR, else
    /// $XDG_CONFIG_HOME/Orvane Inc. (~/.config/Orvane Inc. without it).
    static std::string ConfigDirectory(const std::string& overrideDir);
    static constexpr const char* kFileName = "Cardmill.conf";

private:
    struct Line {
        std::string section; // section the line belongs to
        std::string key; // empty for headers, comments and blank lines
        std::string text; // the whole line as written
    };

    std::string path;
    std::vector<Line> lines;
    bool changed = false;
};

} // namespace cardmill
