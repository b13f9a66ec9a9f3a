#include "IniSettingsStore.h"

#include "FileSystem.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cardmill {

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

IniSettingsStore::IniSettingsStore(std::string filePath)
    : path(std::move(filePath))
{
    Reload();
}

void IniSettingsStore::Reload()
{
    lines.clear();
    changed = false;
    std::ifstream in(path);
    std::string text;
    std::string section;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        // A byte order mark from an editor on Windows would hide the first section.
        if (lines.empty() && text.starts_with("\xEF\xBB\xBF"))
            text.erase(0, 3);
        const std::string trimmed = Trim(text);
        Line line { section, {}, text };
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            section = Trim(trimmed.substr(1, trimmed.size() - 2));
            line.section = section;
        } else if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#') {
            const auto equals = trimmed.find('=');
            if (equals != std::string::npos)
                line.key = Trim(trimmed.substr(0, equals));
        }
        lines.push_back(std::move(line));
    }
}

std::optional<std::string> IniSettingsStore::Find(
    const std::string& section, const std::string& key) const
{
    for (const auto& line : lines) {
        if (line.section == section && line.key == key) {
            const auto equals = line.text.find('=');
            return Trim(line.text.substr(equals + 1));
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniSettingsStore::Entries(
    const std::string& section) const
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& line : lines)
        if (line.section == section && !line.key.empty())
            entries.emplace_back(line.key, Trim(line.text.substr(line.text.find('=') + 1)));
    return entries;
}

void IniSettingsStore::Put(
    const std::string& section, const std::string& key, const std::string& value)
{
    const std::string text = key + "=" + value;
    changed = true;
    std::size_t lastOfSection = lines.size();
    bool sectionSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].section != section)
            continue;
        if (lines[i].key == key) {
            lines[i].text = text;
            return;
        }
        sectionSeen = true;
        if (!Trim(lines[i].text).empty())
            lastOfSection = i;
    }
    if (!sectionSeen) {
        if (!lines.empty() && !Trim(lines.back().text).empty())
            lines.push_back({ lines.back().section, {}, "" });
        lines.push_back({ section, {}, "[" + section + "]" });
        lines.push_back({ section, key, text });
        return;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastOfSection + 1),
        Line { section, key, text });
}

bool IniSettingsStore::Flush()
{
    if (!changed)
        return true;
    std::string content;
    for (const auto& line : lines)
        content += line.text + "\n";
    const auto folder = ParentFolder(path);
    if (!folder.empty() && !MakeFolders(folder))
        return false;
    if (!WriteFileAtomically(
            path, { reinterpret_cast<const std::uint8_t*>(content.data()), content.size() }))
        return false;
    changed = false;
    return true;
}

std::string IniSettingsStore::ConfigDirectory(const std::string& overrideDir)
{
    if (!overrideDir.empty())
        return overrideDir;
    if (const char* dir = std::getenv("CARDMILL_CONFIG_DIR"); dir && *dir)
        return dir;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/Orvane Inc.";
}

} // namespace cardmill
