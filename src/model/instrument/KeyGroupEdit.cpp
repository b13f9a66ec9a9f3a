#include "model/instrument/KeyGroupEdit.h"

#include "model/MProject.h"
#include "model/instrument/MInstFile.h"
#include "platform/Clock.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

KeyGroupEdit::KeyGroupEdit(const std::uint8_t* upperKeys, int groupCount)
    : count(std::clamp(groupCount, 1, kMaxGroups))
{
    if (upperKeys)
        std::copy(upperKeys, upperKeys + kMaxGroups, keys.begin());
    else
        keys[0] = kHighestKey;
}

KeyGroupEdit::Outcome KeyGroupEdit::Apply(int group, int lower, int upper, Prompter& prompter)
{
    if (group < 0 || group >= count)
        return Outcome::Refused;
    if (group == 0)
        lower = 0;
    if (lower > kHighestKey) {
        ReportFailure(prompter, "The Lower Key must be within the range C-2 to G8.");
        return Outcome::Refused;
    }
    if (upper > kHighestKey) {
        ReportFailure(prompter, "The Upper Key must be within the range C-2 to G8.");
        return Outcome::Refused;
    }
    if (lower > upper) {
        ReportFailure(prompter, "The Lower Key must be less than or equal to the Upper Key.");
        return Outcome::Refused;
    }
    // Every earlier group needs at least one key.
    if (lower < group) {
        ReportFailure(prompter, "The Lower Key must not overlap the previous key groups.");
        return Outcome::Refused;
    }
    if (group > 1 && lower <= Lower(group - 1)) {
        // Earlier groups move down, each kept one key wide, until one still has room.
        for (int j = group - 1; j >= 0; --j) {
            const int lowerOfJ = Lower(j);
            keys[Index(j)] = static_cast<std::uint8_t>(lower - (group - j));
            if (keys[Index(j)] > lowerOfJ)
                break;
        }
        Store(group, lower, upper);
        prompter.Show("Some or all previous key groups have been adjusted for the new Lower Key.",
            Icon::Information, Buttons::Ok);
        return Outcome::Adjusted;
    }
    // Every later group needs at least one key.
    if (upper + (count - 1 - group) > kHighestKey) {
        ReportFailure(prompter, "The Upper Key must not overlap the following key groups.");
        return Outcome::Refused;
    }
    if (group < count - 1 && upper >= Upper(group + 1)) {
        for (int j = group + 1; j < count; ++j) {
            const int key = upper + (j - group);
            if (key < Upper(j))
                break;
            keys[Index(j)] = static_cast<std::uint8_t>(key);
        }
        Store(group, lower, upper);
        prompter.Show("Some or all following key groups have been adjusted for the new Upper Key.",
            Icon::Information, Buttons::Ok);
        return Outcome::Adjusted;
    }
    Store(group, lower, upper);
    return Outcome::Accepted;
}

void KeyGroupEdit::Store(int group, int lower, int upper)
{
    if (group > 0 && lower > 0)
        keys[Index(group - 1)] = static_cast<std::uint8_t>(lower - 1);
    keys[Index(group)] = static_cast<std::uint8_t>(upper);
}

bool CheckVoiceName(std::string_view name, Prompter& prompter)
{
    if (!name.empty())
        return true;
    ReportFailure(prompter, "Please enter the voice name.");
    return false;
}

void MarkEdited(MInstFile& voice, MProject& project, const Clock& clock)
{
    voice.SetChangeTime(SecondsSince1904(clock.Now()));
    project.SetDirty();
}

std::string KeyName(int key)
{
    static constexpr const char* kNoteNames[]
        = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };
    return std::string(kNoteNames[key % 12]) + std::to_string(key / 12 - 2);
}

} // namespace cardmill
