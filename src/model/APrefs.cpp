#include "model/APrefs.h"

#include "model/MProject.h"
#include "platform/ParseNumber.h"

namespace cardmill {

const std::array<APrefs::Key, 8> APrefs::kKeys { {
    { "Hardware", "MidiInputPort", Kind::Text },
    { "Hardware", "MidiOutputPort", Kind::Text },
    { "User", "StartMarker", Kind::Text },
    { "User", "AllowPhantoms", Kind::Number },
    { "User", "AllowPhantomsInAnyFolder", Kind::Number },
    { "User", "EraseSectorBeforeWriting", Kind::Number },
    { "User", "SplitStereoFiles", Kind::Number },
    { "User", "DefaultCardSizeToken", Kind::Number },
} };

APrefs::APrefs(SettingsStore& settingsStore)
    : store(settingsStore)
{
    if (!Load())
        SetDefaults();
}

APrefs::~APrefs()
{
    Save();
}

void APrefs::SetDefaults()
{
    midiInputPort.clear();
    midiOutputPort.clear();
    startMarker = "start here";
    allowPhantoms = 1;
    allowPhantomsInAnyFolder = 1;
    eraseSectorBeforeWriting = 1;
    splitStereoFiles = 0;
    defaultCardSizeToken = 1;
}

bool APrefs::Load()
{
    SetDefaults();
    for (const Key& key : kKeys)
        LoadKey(key);
    return true;
}

void APrefs::LoadKey(const Key& key)
{
    const std::size_t at = static_cast<std::size_t>(&key - kKeys.data());
    seen[at] = store.Find(key.section, key.name);
    if (key.kind == Kind::Number) {
        std::uint16_t* number = NumberField(key.name);
        *number = static_cast<std::uint16_t>(store.GetInt(key.section, key.name, *number));
    } else {
        std::string* text = TextField(key.name);
        *text = store.GetText(key.section, key.name, *text);
        if (text == &startMarker)
            startMarker = startMarker.substr(0, kTextLimit);
    }
    taken[at] = *GetValue(key.name);
}

bool APrefs::Reload()
{
    store.Reload();
    bool changed = false;
    for (const Key& key : kKeys) {
        const std::size_t at = static_cast<std::size_t>(&key - kKeys.data());
        const auto now = store.Find(key.section, key.name);
        if (now == seen[at])
            continue;
        if (*GetValue(key.name) == taken[at]) {
            LoadKey(key);
            changed = true;
        } else {
            // Changed here too: this program's value stays, and is what Save writes.
            seen[at] = now;
        }
    }
    return changed;
}

void APrefs::Settle(const std::string& name)
{
    if (const Key* key = FindKey(name))
        taken[static_cast<std::size_t>(key - kKeys.data())] = *GetValue(name);
}

bool APrefs::Save()
{
    // What another program stored meanwhile is taken in first, not written over.
    Reload();
    for (const Key& key : kKeys) {
        const std::size_t at = static_cast<std::size_t>(&key - kKeys.data());
        const std::string value = *GetValue(key.name);
        if (store.Find(key.section, key.name) != value)
            store.SetText(key.section, key.name, value);
        seen[at] = value;
        taken[at] = value;
    }
    return store.Flush();
}

const APrefs::Key* APrefs::FindKey(const std::string& name)
{
    for (const Key& key : kKeys)
        if (name == key.name)
            return &key;
    return nullptr;
}

std::optional<std::string> APrefs::GetValue(const std::string& name) const
{
    if (const auto* text = TextField(name))
        return *text;
    if (const auto* number = NumberField(name))
        return std::to_string(*number);
    return std::nullopt;
}

bool APrefs::SetValue(const std::string& name, const std::string& value, std::string& error)
{
    if (auto* text = TextField(name)) {
        if (name == "StartMarker" && value.size() > kTextLimit) {
            error = "StartMarker holds at most 31 characters";
            return false;
        }
        *text = value;
        return true;
    }
    auto* number = NumberField(name);
    if (!number) {
        error = "unknown preference '" + name + "'";
        return false;
    }
    const bool cardSize = name == "DefaultCardSizeToken";
    std::optional<std::uint64_t> parsed = ParseNumber(value, 0, 1);
    if (cardSize)
        parsed = MProject::ParseCardSize(value);
    if (!parsed) {
        error = cardSize ? name
                + " takes a card size: 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M, or "
                  "its number from 0 to 9, not '"
                + value + "'"
                         : name + " takes 0 (off) or 1 (on), not '" + value + "'";
        return false;
    }
    *number = static_cast<std::uint16_t>(*parsed);
    return true;
}

const std::string* APrefs::TextField(const std::string& name) const
{
    return const_cast<APrefs*>(this)->TextField(name);
}

const std::uint16_t* APrefs::NumberField(const std::string& name) const
{
    return const_cast<APrefs*>(this)->NumberField(name);
}

std::string* APrefs::TextField(const std::string& name)
{
    if (name == "MidiInputPort")
        return &midiInputPort;
    if (name == "MidiOutputPort")
        return &midiOutputPort;
    if (name == "StartMarker")
        return &startMarker;
    return nullptr;
}

std::uint16_t* APrefs::NumberField(const std::string& name)
{
    if (name == "AllowPhantoms")
        return &allowPhantoms;
    if (name == "AllowPhantomsInAnyFolder")
        return &allowPhantomsInAnyFolder;
    if (name == "EraseSectorBeforeWriting")
        return &eraseSectorBeforeWriting;
    if (name == "SplitStereoFiles")
        return &splitStereoFiles;
    if (name == "DefaultCardSizeToken")
        return &defaultCardSizeToken;
    return nullptr;
}

} // namespace cardmill
