#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cardmill {

/// Per-user key/value store with sections, text values and integer values.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> Find(
        const std::string& section, const std::string& key) const = 0;
    virtual void Put(const std::string& section, const std::string& key, const std::string& value)
        = 0;
    /// Every key of `section` with its value, in the store's order.
    virtual std::vector<std::pair<std::string, std::string>> Entries(
        const std::string& section) const = 0;
    /// Makes the values written so far permanent; false when they could not be stored.
    virtual bool Flush() = 0;
    /// Takes in what another program stored meanwhile (a store kept only in memory has nothing
    /// to take).
    virtual void Reload() { }

    std::string GetText(
        const std::string& section, const std::string& key, const std::string& fallback) const
    {
        return Find(section, key).value_or(fallback);
    }

    /// Like the platform's profile reader: a missing key gives the default, a value that is not
    /// a number gives its leading digits (0 when there are none).
    long GetInt(const std::string& section, const std::string& key, long fallback) const
    {
        const auto text = Find(section, key);
        if (!text)
            return fallback;
        return std::strtol(text->c_str(), nullptr, 10);
    }

    void SetText(const std::string& section, const std::string& key, const std::string& value)
    {
        Put(section, key, value);
    }
    void SetInt(const std::string& section, const std::string& key, long value)
    {
        Put(section, key, std::to_string(value));
    }
};

/// Test double: the values live in memory only.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<std::string> Find(
        const std::string& section, const std::string& key) const override
    {
        auto found = values.find({ section, key });
        if (found == values.end())
            return std::nullopt;
        return found->second;
    }
    void Put(const std::string& section, const std::string& key, const std::string& value) override
    {
        values[{ section, key }] = value;
    }
    std::vector<std::pair<std::string, std::string>> Entries(
        const std::string& section) const override
    {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const auto& [where, value] : values)
            if (where.first == section)
                entries.emplace_back(where.second, value);
        return entries;
    }
    bool Flush() override
    {
        ++flushes;
        return true;
    }

    std::map<std::pair<std::string, std::string>, std::string> values;
    int flushes = 0;
};

} // namespace cardmill
