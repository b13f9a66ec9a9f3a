#pragma once

#include "model/DeviceFamily.h"
#include "model/sound/MSoundFileArray.h"
#include "platform/Clock.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <array>
#include <cstdint>
#include <string>

namespace cardmill {

class APrefs;
class FileLocator;
class MSoundFile;

/// Whatever plays sounds for preview: told when a sound stops being previewable (it is being
/// unloaded or destroyed) so that it no longer reads from it.
class PreviewPlayer {
public:
    virtual ~PreviewPlayer() = default;
    virtual void Forget(const MSoundFile* sound) = 0;
};
class MCardmill;
class MProject;

/// What the model's objects reach application-wide: the platform services they talk through and
/// the few pieces of state the whole application shares (the sound registry, the flag that a
/// project file is being opened, the SysEx pacing count of sequence conversion). The controller
/// owns one; tests build their own with doubles.
class Services {
public:
    Services(Prompter& prompterService, Clock& clockService, APrefs& preferences)
        : prompter(prompterService)
        , clock(clockService)
        , prefs(preferences)
    {
    }
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    /// The lines of the operation now loading files (a null view when none runs).
    ProgressView& Progress() const { return progress ? *progress : nullProgress; }
    void SetProgress(ProgressView* view) { progress = view; }

    Prompter& prompter;
    Clock& clock;
    APrefs& prefs;
    MSoundFileArray sounds;
    /// A project file is being opened: questions that would ask OK or Cancel are taken as OK.
    bool projectLoading = false;
    /// A project file is opening its items: what an instrument of it leaves out of the card, and
    /// the values of a file that the card can't take, were told when the file was added, and are
    /// not told again each time the project opens.
    bool openingProject = false;
    /// A file is being looked at before it is added (the file dialogs' preview): what it leaves
    /// out of the card, and the values the card can't take, are told once, when it is added.
    bool previewing = false;
    /// What a file gives that the card can't take is told now: not while a project opens it
    /// again, nor while it is only looked at.
    bool TellsFileChanges() const { return !openingProject && !previewing; }
    /// Finds files that a stored record names when they have moved; none in plain tests.
    FileLocator* locator = nullptr;
    /// The sound preview, when the front end has one.
    PreviewPlayer* player = nullptr;
    MProject* project = nullptr;
    /// The document controller, which a project file being opened works with.
    MCardmill* controller = nullptr;
    MakerId makerId = kMakerId;
    /// Why the last file that could not be opened was not understood, when its reader knows
    /// ("its samples are 32-bit floating point"); the creator clears it before each file.
    std::string whyNotUnderstood;
    /// System Exclusive bytes written by sequence conversions since the application started.
    std::uint32_t sysexPacing = 0;

private:
    ProgressView* progress = nullptr;
    mutable NullProgressView nullProgress;
};

} // namespace cardmill
