#pragma once

#include "model/fit/FitPlan.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

class MCardmill;
class MProject;
class MReadableFile;

/// A place where the project plays a sound: the item (a sound, or an instrument whose sample it
/// is) and the sound.
struct FitPlace {
    MReadableFile* item;
    MSoundFile* sample;
};

/// The sounds of a project as a fit sees them: each sound once (a file and its place in the
/// file, with every sound that shares its card data), with the places it is played.
struct ProjectSounds {
    std::vector<FitSound> sounds;
    std::vector<std::vector<FitPlace>> places; // one list a sound, one place a use
    std::vector<std::string> leftAlone; // the items no fit changes, named with the reason
    /// What the user should know of the sounds ("'x.wav' was made by an earlier fit from ...").
    std::vector<std::string> notes;
};

/// Reads every sound of the project's sound groups, and the originals of the files an earlier
/// fit made; `groupLabel` names a group for the plan. Nothing (with `failure` saying why) when a
/// file can't be read to its end, or when `stopped` says so.
std::optional<ProjectSounds> GatherProjectSounds(MProject& project,
    const std::function<std::string(int)>& groupLabel, std::string& failure,
    const std::function<bool()>& stopped = {});

/// One item of the project and the item that stands in for it: what Apply and Undo swap.
struct FitSwap {
    MReadableFile* current; // in the project
    std::unique_ptr<MReadableFile> other; // out of it, deactivated
};

/// The fitted items of the chosen sounds, written into `folder` under names of their own (never
/// over a file there): the sounds as 16-bit WAV files that name their originals, the instruments
/// that play them as .cmt files, each item with its name, group and settings. `written` gets the
/// files written. False (with `failure` saying why, and the files it wrote taken back) when a
/// file can't be written or read back, or an instrument file can't name a sample's path; the
/// project is not changed.
bool MakeFittedItems(MCardmill& controller, const ProjectSounds& gathered, const FitPlan& plan,
    const std::vector<bool>& chosen, const std::string& folder, std::vector<FitSwap>& swaps,
    std::vector<std::string>& written, std::string& failure);

/// Puts each swap's other item in the place of its current one, and keeps the item taken out:
/// done again, it undoes.
void SwapItems(MProject& project, std::vector<FitSwap>& swaps);

} // namespace cardmill
