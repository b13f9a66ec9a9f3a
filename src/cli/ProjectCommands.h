#pragma once

#include "Cli.h"
#include "model/CardInfoEdit.h"

#include <optional>
#include <string>
#include <string_view>

namespace cardmill {

class MProject;

/// A group named on the command line: k1..k8, d1..d3, seq, prog, or a sound group's name;
/// nothing, with `error` saying why, when none or several groups have that name.
std::optional<int> ParseGroup(const MProject& project, const std::string& text, std::string& error);
/// An item as `remove`, `voice` and `sample` name it: "'kick.wav', file 1 of d1 (Drums)".
std::string ItemWhere(const MProject& project, int group, int index);
/// Why group `group`, named `typed` on the command line, has no file at `index` (from 1).
std::string NoFileMessage(
    const MProject& project, int group, const std::string& typed, std::uint64_t index);
/// A name typed for the card in the card's characters, or nothing (told why) when the instrument
/// can't show it; a word when its accents go.
std::optional<std::string> AcceptTyped(CliApp& app, std::string_view typed, std::string_view what);
/// A card size: 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M, or the token 0 to 9.
std::optional<std::uint16_t> ParseCardSize(const std::string& text);
/// A target: zelta (14) or percula (25).
std::optional<std::uint16_t> ParseTarget(const std::string& text);

/// A library of presets (a SoundFont) stands for one of its presets: the one `preset` names, or
/// its only one; `path` becomes the preset's path. kSuccess, or the usage error's status.
int ChoosePreset(const std::string& command, const std::string& named,
    const std::optional<std::string>& preset, std::string& path);

/// A name padded with blanks to `columns` characters on the terminal (UTF-8 characters count
/// once, whatever their bytes).
std::string PadToColumns(std::string text, std::size_t columns);

/// What to type to change a project's card size.
std::string CardSizeAdvice(const std::string& project);
/// Every file a command on the open project reads: the project and the files it names.
std::vector<std::string> FilesRead(CliApp& app, const std::string& projectPath);

/// Opens a project file as the loader does; false (the reason told) when it cannot be opened or
/// any file it names is missing or cannot be read, so nothing built on it is saved. A project
/// opened `forChange` is locked until the program ends: another program changing it waits a few
/// seconds for it, then is told it is in use.
bool OpenProject(CliApp& app, const std::string& command, const std::string& path, bool forChange);
/// Saves the open project over its file, keeping a backup while writing; nothing once the
/// command was interrupted.
bool SaveProject(CliApp& app);

} // namespace cardmill
