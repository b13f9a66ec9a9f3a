#include "model/MCardmill.h"

#include "model/APrefs.h"
#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "model/PendingFilesQueue.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"

#include <algorithm>
#include <new>

namespace cardmill {

MCardmill::MCardmill(
    Platform platformServices, DocumentUi& documentUi, PendingFilesQueue& pendingFiles)
    : ASafeFile(platformServices.prompter)
    , platform(platformServices)
    , ui(documentUi)
    , pending(pendingFiles)
{
}

MCardmill::~MCardmill()
{
    // Reverse order of creation; the preferences store themselves as they go.
    creator.reset();
    paramDispatcher.reset();
    seqDispatcher.reset();
    instDispatcher.reset();
    soundDispatcher.reset();
    projectDispatcher.reset();
    if (services) {
        services->project = nullptr;
        services->controller = nullptr;
    }
    if (upperSingletons)
        upperSingletons->Destroy();
    project.reset();
    services.reset();
    prefs.reset();
}

bool MCardmill::Startup(UpperSingletons* upper)
{
    try {
        prefs = std::make_unique<APrefs>(platform.settings);
        services = std::make_unique<Services>(platform.prompter, platform.clock, *prefs);
        project = std::make_unique<MProject>(*prefs);
        services->project = project.get();
        services->controller = this;
        if (upper) {
            upperSingletons = upper;
            if (!upper->Create(*this))
                return false;
        }
        projectDispatcher = std::make_unique<MProjectFileDispatcher>(*services);
        soundDispatcher = std::make_unique<MSoundFileDispatcher>(*services);
        instDispatcher = std::make_unique<MInstFileDispatcher>(*services);
        seqDispatcher = std::make_unique<MSeqFileDispatcher>(*services);
        paramDispatcher = std::make_unique<MParamFileDispatcher>(*services);
        creator = std::make_unique<MReadableFileCreator>(*services,
            std::vector<const MReadableFileDispatcher*> { soundDispatcher.get(),
                instDispatcher.get(), seqDispatcher.get(), paramDispatcher.get(),
                projectDispatcher.get() });
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool MCardmill::AskSaveChanges()
{
    if (!project->IsDirty())
        return true;
    const std::string name = hasFile ? documentPath : project->GetCardName();
    const Answer answer = platform.prompter.Show(
        "Save changes to the Cardmill document " + name + "?", Icon::None, Buttons::YesNoCancel);
    if (answer == Answer::Yes)
        return hasFile ? SaveToCurrentFile() : RunSaveAsDialog();
    return answer == Answer::No;
}

void MCardmill::ResetDocument()
{
    ui.ResetView();
    project->Reset();
    ui.SelectGroup(0);
}

void MCardmill::NewProject()
{
    if (AskSaveChanges())
        StartEmptyProject();
}

void MCardmill::StartEmptyProject()
{
    hasFile = false;
    ResetDocument();
}

void MCardmill::OpenProject()
{
    if (AskSaveChanges() && ChooseProjectToOpen()) {
        ResetDocument();
        QueueProjectForLoading();
    }
}

void MCardmill::OpenProjectAt(const std::string& path)
{
    documentPath = path;
    ResetDocument();
    QueueProjectForLoading();
}

void MCardmill::CloseProject()
{
    if (!AskSaveChanges())
        return;
    ui.CloseFrame();
    project->Reset();
}

bool MCardmill::SaveProject()
{
    return hasFile ? SaveToCurrentFile() : RunSaveAsDialog();
}

bool MCardmill::SaveProjectAs()
{
    return RunSaveAsDialog();
}

void MCardmill::RevertProject()
{
    if (!AskSaveChanges())
        return;
    ResetDocument();
    QueueProjectForLoading();
}

bool MCardmill::QueryClose()
{
    return AskSaveChanges();
}

void MCardmill::SetDocumentPath(const std::string& path)
{
    documentDamaged = false;
    hasFile = true;
    keepBackup = false;
    documentPath = path;
    ui.SetTitle("Cardmill - " + path);
}

bool MCardmill::RunSaveAsDialog()
{
    const std::string proposed = hasFile ? documentPath : project->GetCardName();
    const auto choice = ui.ChooseSaveAs(proposed);
    if (!choice)
        return false;
    if (choice->fileType == 1) {
        documentPath = choice->path;
        keepBackup = false;
        if (!WriteProjectFile())
            return false;
        hasFile = true;
        documentDamaged = false;
        ui.SetTitle("Cardmill - " + documentPath);
        return true;
    }
    // A text dump does not save the document, so a save question that led here keeps the
    // user's command from going on.
    keepBackup = false;
    WriteTextDump(choice->path);
    return false;
}

bool MCardmill::SaveToCurrentFile()
{
    if (documentDamaged
        && platform.prompter.Ask("The project file '" + documentPath
                   + "' was damaged when it was opened, and saving over it keeps only what "
                     "could be read.  Do you wish to save over it anyway?",
               Icon::Warning, Buttons::OkCancel, Answer::Cancel)
            != Answer::Ok)
        return false;
    keepBackup = true;
    if (!WriteProjectFile())
        return false;
    documentDamaged = false;
    return true;
}

bool MCardmill::ChooseProjectToOpen()
{
    const auto path = ui.ChooseProjectToOpen();
    if (!path)
        return false;
    documentPath = *path;
    return true;
}

std::array<const MReadableFileDispatcher*, 4> MCardmill::AddingDispatchers() const
{
    return { soundDispatcher.get(), instDispatcher.get(), seqDispatcher.get(),
        paramDispatcher.get() };
}

std::vector<const MReadableFileDispatcher*> MCardmill::ChosenKindFirst(AddFilter filter) const
{
    const auto adding = AddingDispatchers();
    std::vector<const MReadableFileDispatcher*> inOrder;
    if (filter != AddFilter::Any)
        inOrder.push_back(adding[static_cast<std::size_t>(filter) - 1]);
    for (const auto* dispatcher : adding)
        if (inOrder.empty() || dispatcher != inOrder.front())
            inOrder.push_back(dispatcher);
    return inOrder;
}

std::unique_ptr<MReadableFile> MCardmill::Recognise(
    const std::string& path, AddFilter filter, OtherKinds others) const
{
    if (filter != AddFilter::Any && others == OtherKinds::Refused)
        return AddingDispatchers()[static_cast<std::size_t>(filter) - 1]->Create(path);
    // The creator's recognition, which `info` uses too, without the project files.
    std::string failure, kind;
    return CreateRecognised(*services, ChosenKindFirst(filter), path, failure, kind);
}

std::optional<std::string> MCardmill::OtherKindRefusal(
    const std::string& path, AddFilter filter) const
{
    auto inOrder = ChosenKindFirst(filter);
    const MReadableFileDispatcher* wanted = inOrder.front();
    inOrder.erase(inOrder.begin());
    inOrder.push_back(projectDispatcher.get());
    const std::string& wantedKind = wanted->GetKindName();
    std::string failure, kind;
    if (const auto other = CreateRecognised(*services, inOrder, path, failure, kind))
        return "Sorry, but '" + path + "' is " + WithArticle(kind) + " (" + other->GetFormatName()
            + "), not " + WithArticle(wantedKind) + ".";
    // A library of many presets opens only with one of them named, but it is an instrument all
    // the same, never sample data.
    std::string damage;
    const auto catalog
        = IsInstrumentLibrary(path) ? ReadLibraryCatalog(path, damage) : std::nullopt;
    if (catalog)
        return "Sorry, but '" + path + "' is " + WithArticle(instDispatcher->GetKindName()) + " ("
            + catalog->formatName + "), not " + WithArticle(wantedKind) + ".";
    // Another kind's file that its reader can't read is damaged, and named so.
    const bool another = std::any_of(inOrder.begin(), inOrder.end(),
        [&](const MReadableFileDispatcher* dispatcher) { return dispatcher->Recognises(path); });
    if (another && !wanted->Recognises(path))
        return failure;
    return std::nullopt;
}

bool MCardmill::IsProjectFile(const std::string& path) const
{
    return EndsWithExtension(path, ".cmr")
        || (!UnreadableMessage(path) && projectDispatcher->Recognises(path));
}

std::unique_ptr<MReadableFile> MCardmill::CreateForAdding(
    const std::string& path, AddFilter filter, bool rawNeedsConsent, OtherKinds others) const
{
    // A file that can't be read at all is no raw data either.
    if (const auto unreadable = UnreadableMessage(path)) {
        ReportFailure(platform.prompter, *unreadable);
        return nullptr;
    }
    const bool anyKind = filter == AddFilter::Any || others == OtherKinds::Taken;
    if (anyKind && projectDispatcher->Recognises(path)) {
        ReportFailure(platform.prompter,
            "Sorry, but '" + path
                + "' is a Cardmill project, which is opened rather than added to a project.");
        return nullptr;
    }
    if (auto file = Recognise(path, filter, others))
        return file;
    // A file of another kind is what it is, not raw data of the kind asked for.
    if (!anyKind) {
        if (const auto refusal = OtherKindRefusal(path, filter)) {
            ReportFailure(platform.prompter, *refusal);
            return nullptr;
        }
    }
    const Answer answer = platform.prompter.Show(
        RawDataMessage(path), Icon::Exclamation, rawNeedsConsent ? Buttons::OkCancel : Buttons::Ok);
    if (answer != Answer::Ok)
        return nullptr;
    return soundDispatcher->CreateRaw(path);
}

void MCardmill::QueueProjectForLoading()
{
    pending.Push(documentPath);
}

} // namespace cardmill
