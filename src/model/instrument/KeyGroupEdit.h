#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace cardmill {

class MInstFile;
class MProject;
class Prompter;
class Clock;

/// The key groups of an instrument as the voice dialog edits them: a copy of the key table (the
/// upper key of each group; a group's lower key is the previous group's upper key + 1), changed
/// one confirmed choice at a time. Refusals and adjustments are told through the prompter;
/// nothing reaches the instrument until the caller stores Keys() back.
class KeyGroupEdit {
public:
    static constexpr int kMaxGroups = 128;
    static constexpr int kHighestKey = 127;

    enum class Outcome { Accepted, Adjusted, Refused };

    KeyGroupEdit(const std::uint8_t* upperKeys, int groupCount);

    int GroupCount() const { return count; }
    int Lower(int group) const { return group == 0 ? 0 : keys[Index(group - 1)] + 1; }
    int Upper(int group) const { return keys[Index(group)]; }
    const std::array<std::uint8_t, kMaxGroups>& Keys() const { return keys; }

    /// Group `group` takes the lower key `lower` (ignored for group 0) and the upper key `upper`.
    /// The key lists reach B8 (131), so keys above 127 arrive here and are refused. A refusal
    /// leaves the table as it was; an adjustment moves neighbouring groups so that every group
    /// keeps at least one key.
    Outcome Apply(int group, int lower, int upper, Prompter& prompter);

private:
    static std::size_t Index(int group) { return static_cast<std::size_t>(group); }
    void Store(int group, int lower, int upper);

    std::array<std::uint8_t, kMaxGroups> keys {};
    int count = 0;
};

/// A key as a note name: 60 is "C3".
std::string KeyName(int key);

/// The voice dialog's check of a voice name; false (told why) when it is empty.
bool CheckVoiceName(std::string_view name, Prompter& prompter);

/// A voice or one of its samples was edited as the dialogs edit them: the item remembers when,
/// so the project file keeps its settings, and the project is marked changed.
void MarkEdited(MInstFile& voice, MProject& project, const Clock& clock);

} // namespace cardmill
