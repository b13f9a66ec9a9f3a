#pragma once

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

} // namespace cardmill
