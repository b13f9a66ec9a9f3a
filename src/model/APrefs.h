#pragma once

#include "platform/SettingsStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace cardmill {

/// The user's preferences, loaded from the settings store when created and written back when
/// destroyed (or by Save). Section "Hardware" holds the MIDI ports, section "User" the rest.
class APrefs {
public:
    enum class Kind { Text, Number };
    struct Key {
        const char* section;
        const char* name;
        Kind kind;
    };
    /// Every key, in the order in which they are stored.
    static const std::array<Key, 8> kKeys;
    static constexpr std::size_t kTextLimit = 31;

    explicit APrefs(SettingsStore& settingsStore);
    ~APrefs();
    APrefs(const APrefs&) = delete;
    APrefs& operator=(const APrefs&) = delete;

    void SetDefaults();
    bool Load();
    /// Writes the values back; a key that another program changed since it was read is taken
    /// in first, unless it was changed here too.
    bool Save();
    /// Takes in the keys that another program (`cardmill prefs`) changed in the store since
    /// they were read or saved here, except those changed here meanwhile; true when there were
    /// any.
    bool Reload();
    /// The value of `name` now counts as the one read, not as a change made here: the MIDI port
    /// chosen in place of a stored one that is gone, which another program may still change.
    void Settle(const std::string& name);

    /// A value by key name, as text; nothing for an unknown key.
    std::optional<std::string> GetValue(const std::string& name) const;
    /// Sets a value by key name; on refusal returns false and says why in `error`.
    bool SetValue(const std::string& name, const std::string& value, std::string& error);
    static const Key* FindKey(const std::string& name);
    /// The store the preferences live in, which keeps other settings beside them (the paces of
    /// the MIDI ports).
    SettingsStore& Store() const { return store; }

    // Port names are kept whole: on Linux they are longer than 31 characters and a cut name
    // would no longer match the port.
    std::string midiInputPort;
    std::string midiOutputPort;
    std::string startMarker;
    std::uint16_t allowPhantoms = 1;
    std::uint16_t allowPhantomsInAnyFolder = 1;
    std::uint16_t eraseSectorBeforeWriting = 1;
    std::uint16_t splitStereoFiles = 0;
    std::uint16_t defaultCardSizeToken = 1;

private:
    void LoadKey(const Key& key);
    std::string* TextField(const std::string& name);
    std::uint16_t* NumberField(const std::string& name);
    const std::string* TextField(const std::string& name) const;
    const std::uint16_t* NumberField(const std::string& name) const;

    SettingsStore& store;
    /// Each key's text in the store when it was last read or saved (nothing: not stored), and
    /// the value it gave here: a value that differs from it now was changed here.
    std::array<std::optional<std::string>, 8> seen;
    std::array<std::string, 8> taken;
};

} // namespace cardmill
