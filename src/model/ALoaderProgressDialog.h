#pragma once

#include "platform/StepRunner.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

class MCardmill;
class MReadableFile;
class ProgressView;

/// Files already recognised and waiting to be loaded (the add-files dialog's lists), taken when
/// the queue of paths is empty.
class WaitingFiles {
public:
    virtual ~WaitingFiles() = default;
    /// The next file and the group it goes to (none: its own category), or no file.
    virtual std::unique_ptr<MReadableFile> TakeNextWaiting(std::optional<int>& group) = 0;
};

/// Files chosen for one add, recognised before anything is loaded, all going to one group (none:
/// each to its own category's).
class WaitingFileList final : public WaitingFiles {
public:
    std::unique_ptr<MReadableFile> TakeNextWaiting(std::optional<int>& group) override;

    std::deque<std::unique_ptr<MReadableFile>> files;
    std::optional<int> targetGroup;
};

/// Turns the paths waiting in the application's queue into project items: each path is
/// recognised by the creator and its file loaded one step at a time, then offered to the project
/// (a stereo sound split into two items when the preference asks for it). A file that fails does
/// not stop the others. Files being opened write their status lines to this operation's view.
class ALoaderProgressDialog final : public SteppedOperation {
public:
    ALoaderProgressDialog(MCardmill& controller, ProgressView& view);
    ~ALoaderProgressDialog() override;

    /// The group that sound and instrument files from the queue go to (their category
    /// otherwise).
    void SetTargetGroup(std::optional<int> group) { targetGroup = group; }
    /// Where files come from once the queue is empty.
    void SetWaitingFiles(WaitingFiles* source) { waiting = source; }
    /// Runs until the queue is empty (or Stop).
    void Run();
    bool Step() override;

    /// Files that reached the project, and files that did not (not understood, failed, refused).
    int Added() const { return added; }
    int NotAdded() const { return notAdded; }
    /// A project file was opened to its end.
    bool ProjectOpened() const { return projectOpened; }

private:
    struct Renamed {
        std::string file;
        std::string shown;
    };

    void Offer(std::unique_ptr<MReadableFile> file);
    /// Tells, once for the whole run, the names the instrument shows otherwise than the files
    /// that gave them: characters it has no form of become "_", and "__.wav" alone says nothing
    /// of which sound it is.
    void TellRenamed();

    MCardmill& controller;
    ProgressView& view;
    std::unique_ptr<MReadableFile> loading;
    std::optional<int> targetGroup;
    std::optional<int> loadingGroup;
    WaitingFiles* waiting = nullptr;
    bool stopRequested = false;
    int added = 0;
    int notAdded = 0;
    bool projectOpened = false;
    std::vector<Renamed> renamed;
};

} // namespace cardmill
