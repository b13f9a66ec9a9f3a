#include "model/ALoaderProgressDialog.h"

#include "model/APrefs.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "model/PendingFilesQueue.h"
#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/instrument/MInstFile.h"
#include "model/project/MProjectFile.h"
#include "model/sound/MSoundFile.h"
#include "platform/Clock.h"
#include "platform/ProgressView.h"

namespace cardmill {

ALoaderProgressDialog::ALoaderProgressDialog(
    MCardmill& documentController, ProgressView& progressView)
    : controller(documentController)
    , view(progressView)
{
}

ALoaderProgressDialog::~ALoaderProgressDialog() = default;

void ALoaderProgressDialog::Run()
{
    Services& services = controller.GetServices();
    ProgressView& before = services.Progress();
    services.SetProgress(&view);
    RunSteps(*this, services.clock);
    services.SetProgress(&before);
}

std::unique_ptr<MReadableFile> WaitingFileList::TakeNextWaiting(std::optional<int>& group)
{
    if (files.empty())
        return nullptr;
    auto file = std::move(files.front());
    files.pop_front();
    group = targetGroup;
    return file;
}

bool ALoaderProgressDialog::Step()
{
    if (view.StopRequested())
        stopRequested = true;
    if (!loading && !stopRequested) {
        std::string path;
        while (!loading && controller.PendingFiles().Pop(path)) {
            loadingGroup = targetGroup;
            loading = controller.Creator().Create(path);
            if (!loading)
                ++notAdded;
        }
        if (!loading && waiting)
            loading = waiting->TakeNextWaiting(loadingGroup);
        if (!loading)
            stopRequested = true;
    }
    if (loading && stopRequested) {
        loading.reset();
    } else if (loading) {
        const int result = loading->LoadStep();
        if (result == 1) {
            Offer(std::move(loading));
        } else if (result != 0) {
            // A project file answers -1 at its end too: it never enters the project itself.
            const auto* project = dynamic_cast<const MProjectFile*>(loading.get());
            if (project && project->Completed())
                projectOpened = true;
            else
                ++notAdded;
            loading.reset();
        }
    }
    view.Pulse();
    if (!stopRequested)
        return true;
    TellRenamed();
    view.ClearStop();
    controller.PendingFiles().Clear();
    return false;
}

void ALoaderProgressDialog::Offer(std::unique_ptr<MReadableFile> file)
{
    MProject& project = controller.Project();
    auto* voice = dynamic_cast<MInstFile*>(file.get());
    if (voice && loadingGroup)
        voice->SetCategory(static_cast<std::int16_t>(*loadingGroup));
    MReadableFile* item = file.get();
    const int group = item->GetCategory();
    if (!project.CanPlace(item, group)) {
        if (project.CountItems(group) >= project.GetCapacity(group))
            ReportFailure(controller.GetServices().prompter,
                "Sorry, but '" + item->GetFileName() + "' can't be added: the group '"
                    + project.GetGroupName(group) + "' holds "
                    + std::to_string(project.GetCapacity(group))
                    + (project.GetCapacity(group) == 1 ? " file" : " files") + ", its limit.");
        ++notAdded;
        return;
    }
    if (!project.AddItem(std::move(file))) {
        ++notAdded;
        return;
    }
    ++added;
    // The project keeps each file's fingerprint: read here, on the loader's time, not at a save.
    item->Fingerprint();
    if (voice)
        for (const MSoundFile* sample : voice->Samples())
            sample->Fingerprint();
    std::string secondName;
    if (voice && voice->IsStereo() && controller.Prefs().splitStereoFiles) {
        auto copy = voice->DuplicateActive();
        auto* second = dynamic_cast<MInstFile*>(copy.get());
        if (second && project.CanPlace(second, second->GetCategory())
            && project.AddItem(std::move(copy))) {
            voice->SetChannel(1);
            second->SetChannel(2);
            // The channels are settings of the item, as if chosen in Sample Info: marked changed,
            // the project file keeps them (otherwise both halves come back as the mix).
            const std::uint32_t now = SecondsSince1904(controller.GetServices().clock.Now());
            voice->SetChangeTime(now);
            second->SetChangeTime(now);
            voice->SetShortName(StereoHalfName(voice->GetShortName(), 'L'));
            second->SetShortName(StereoHalfName(second->GetShortName(), 'R'));
            second->UpdateCompiledSize();
            secondName = second->GetShortName();
        }
    }
    item->UpdateCompiledSize();
    if (voice && !ToCardText(voice->GetFileName()).unshowable.empty())
        renamed.push_back({ voice->GetFileName(),
            voice->GetShortName() + (secondName.empty() ? "" : "' and '" + secondName) });
}

void ALoaderProgressDialog::TellRenamed()
{
    if (renamed.empty())
        return;
    const std::string why = "the instrument shows only letters, digits, blanks and punctuation, "
                            "and '_' for any other character.  Voice Info (cardmill voice "
                            "--name) gives a voice another name.";
    Prompter& prompter = controller.GetServices().prompter;
    if (renamed.size() == 1) {
        prompter.Show("'" + renamed.front().file + "' shows on the instrument as '"
                + renamed.front().shown + "': " + why,
            Icon::Warning, Buttons::Ok);
    } else {
        std::string list;
        for (const Renamed& item : renamed)
            list += "'" + item.file + "' shows as '" + item.shown + "'\n";
        list.pop_back();
        prompter.ShowWithDetails(std::to_string(renamed.size())
                + " files show on the instrument under other names: " + why,
            list, Icon::Warning, Buttons::Ok);
    }
    renamed.clear();
}

} // namespace cardmill
