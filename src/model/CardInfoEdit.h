#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cardmill {

class MProject;
class Prompter;

/// What Card Info edits: the card's name and version as typed (already in the card's
/// characters), the card-size index and the target device.
struct CardInfo {
    std::string name;
    std::string version;
    std::uint16_t sizeToken = 0;
    std::uint16_t target = 0;
};

/// The project's card settings as Card Info shows them.
CardInfo ReadCardInfo(const MProject& project);

/// Card Info's OK: refuses (told why, nothing changed) an empty name or version and a switch to
/// Percula while a drum group holds a file; warns about a program bank when the target changes;
/// then the project takes all four settings.
bool ApplyCardInfo(MProject& project, const CardInfo& info, Prompter& prompter);

/// A name typed for the card (`what`: "card name", "group name"...) in the card's characters;
/// nothing when a character can't be shown on the instrument, with the user told why, and a
/// note when characters change on the way.
std::optional<std::string> AcceptTyped(
    std::string_view typed, std::string_view what, Prompter& prompter);

/// The most characters a group's name is given (a project file's field holds 7).
constexpr std::size_t kGroupNameTyped = 6;
/// "Keyboard Group 3", "Drum Group 1": a sound group as the desktop application names it.
std::string GroupTitle(int group);
/// How the command line names a group: k1..k8, d1..d3, seq or prog.
std::string GroupToken(int group);
/// The group whose GroupToken is `text` (case ignored), or nothing.
std::optional<int> GroupOfToken(std::string_view text);

/// Rename Group's and `cardmill set --group-name`'s one check of `name` (in the card's
/// characters) for keyboard or drum group `group`: nothing when the group can take it, else why
/// not. The name a group has is always taken; a new one holds at most 6 characters, and since a
/// name selects its group on the command line it is neither a word of GroupToken's nor another
/// group's name (case ignored).
std::optional<std::string> GroupNameRefusal(
    const MProject& project, int group, std::string_view name);

} // namespace cardmill
