#pragma once

#include "model/ASafeFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

class APrefs;
class ByteWriter;
class MCardmill;
class Clock;
class MProject;
class MReadableFile;
class MReadableFileCreator;
class MReadableFileDispatcher;
class MSoundFile;
class PendingFilesQueue;
class Prompter;
class SafeOutput;
class Services;
class SettingsStore;

/// What the controller needs of the main window and of the platform's file dialogs.
class DocumentUi {
public:
    struct SaveChoice {
        std::string path;
        int fileType = 1; // 1 project, 2 text dump
    };

    virtual ~DocumentUi() = default;
    virtual void ResetView() = 0;
    virtual void SelectGroup(int group) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    /// The open-file dialog for projects; nothing when cancelled.
    virtual std::optional<std::string> ChooseProjectToOpen() = 0;
    /// The save dialog offering "Cardmill Project (*.cmr)" and "Text Dump (*.xls)".
    virtual std::optional<SaveChoice> ChooseSaveAs(const std::string& proposedName) = 0;
    virtual void CloseFrame() { }
};

/// The long-lived objects of the layers above the model (the compile engine, and with the link to
/// the instrument the MIDI port layer and the SysEx handler). The program that starts the
/// controller supplies them; the controller creates them once the project exists and destroys
/// them before the project.
class UpperSingletons {
public:
    virtual ~UpperSingletons() = default;
    /// False when one of them cannot be created.
    virtual bool Create(MCardmill& controller) = 0;
    virtual void Destroy() = 0;
};

/// The platform services the application is started with.
struct Platform {
    Prompter& prompter;
    Clock& clock;
    SettingsStore& settings;
};

/// The document controller: creates and destroys the application's long-lived objects, keeps
/// the document's path and carries the document commands (New, Open, Save, Save As, Revert and
/// the question whether unsaved changes may be discarded).
class MCardmill : public ASafeFile {
public:
    MCardmill(Platform platform, DocumentUi& ui, PendingFilesQueue& pendingFiles);
    ~MCardmill() override;
    MCardmill(const MCardmill&) = delete;
    MCardmill& operator=(const MCardmill&) = delete;

    /// Creates the singletons in order, with those of the layers above when given (they must
    /// outlive the controller); false when one cannot be created.
    bool Startup(UpperSingletons* upper = nullptr);
    void NewProject();
    void OpenProject();
    /// Open's and New's ends, once the question about unsaved changes has been answered: the
    /// project at `path` queued for loading, or an untitled empty one.
    void OpenProjectAt(const std::string& path);
    void StartEmptyProject();
    void CloseProject();
    bool SaveProject();
    bool SaveProjectAs();
    void RevertProject();
    bool QueryClose();
    bool HasFile() const { return hasFile; }
    bool AskSaveChanges();
    void SetDocumentPath(const std::string& path);
    bool RunSaveAsDialog();
    bool SaveToCurrentFile();
    virtual bool WriteTextDump(const std::string& path);
    virtual bool WriteProjectFile();
    /// For a project made in a folder of its own that is then moved into place: the paths of its
    /// files under `from` are written as under `to`, so that it opens there as it was saved, not
    /// as a project whose files moved. An empty `from` ends it.
    void StoreFolderAs(const std::string& from, const std::string& to);
    bool ChooseProjectToOpen();
    void QueueProjectForLoading();

    /// The kinds of file the add-files road can be limited to (its file-type filter).
    enum class AddFilter { Any, Sound, Instrument, Sequence, Bank };
    /// What a filter other than Any makes of a file of another kind: the add-files dialog takes
    /// it as what it is (its filter only chose what the chooser lists); a new instrument, made of
    /// sounds, refuses it.
    enum class OtherKinds { Refused, Taken };
    /// A file chosen to be added, recognised as the add-files dialog does: the sound, instrument,
    /// sequence and SysEx dispatchers in that order (the filter's kind first, the others after it
    /// when `others` takes them), and a file none of them yields taken as raw 16-bit mono 48 kHz
    /// sample data after the raw-data notice. With `rawNeedsConsent` the notice is a question
    /// (OK / Cancel) and Cancel gives none. A file that another kind recognises is never raw
    /// data: it is taken, or refused with the reason.
    std::unique_ptr<MReadableFile> CreateForAdding(const std::string& path, AddFilter filter,
        bool rawNeedsConsent, OtherKinds others = OtherKinds::Refused) const;
    /// The same recognition without the raw-data fallback: none when no format understands it
    /// (what the add-files dialog previews).
    std::unique_ptr<MReadableFile> Recognise(
        const std::string& path, AddFilter filter, OtherKinds others = OtherKinds::Refused) const;

    /// A project file, by its extension or its contents (a project saved without ".cmr"); a
    /// device or a pipe is never read to find out.
    bool IsProjectFile(const std::string& path) const;

    /// The document's file was damaged when it was opened: saving over it keeps only what
    /// could be read, so a save to it asks first. A new path or a save that succeeded ends it.
    void SetDocumentDamaged() { documentDamaged = true; }
    bool DocumentDamaged() const { return documentDamaged; }

    const std::string& DocumentPath() const { return documentPath; }
    bool KeepBackup() const { return keepBackup; }

    APrefs& Prefs() const { return *prefs; }
    MProject& Project() const { return *project; }
    Services& GetServices() const { return *services; }
    const MReadableFileCreator& Creator() const { return *creator; }
    const MReadableFileDispatcher& SoundDispatcher() const { return *soundDispatcher; }
    const MReadableFileDispatcher& InstrumentDispatcher() const { return *instDispatcher; }
    const MReadableFileDispatcher& SequenceDispatcher() const { return *seqDispatcher; }
    const MReadableFileDispatcher& BankDispatcher() const { return *paramDispatcher; }
    const MReadableFileDispatcher& ProjectDispatcher() const { return *projectDispatcher; }
    PendingFilesQueue& PendingFiles() const { return pending; }
    DocumentUi& Ui() const { return ui; }

private:
    /// Sound, instrument, sequence and SysEx dispatchers: the order of recognition and of
    /// AddFilter's values.
    std::array<const MReadableFileDispatcher*, 4> AddingDispatchers() const;
    /// The adding dispatchers with the filter's kind first: a file two kinds can read is the
    /// chosen kind's.
    std::vector<const MReadableFileDispatcher*> ChosenKindFirst(AddFilter filter) const;
    /// Why a file that the filter's kind does not yield is not taken as raw data either (it is
    /// of another kind, or another kind's file that can't be read); nothing when it may be.
    std::optional<std::string> OtherKindRefusal(const std::string& path, AddFilter filter) const;
    void ResetDocument();
    // Project file writer
    std::string StoredPath(const std::string& path) const;
    bool WriteBytes(SafeOutput& file, const ByteWriter& bytes);
    bool WriteFileHeader(SafeOutput& file);
    bool WriteBody(SafeOutput& file);
    bool WriteSoundGroup(SafeOutput& file, int group);
    bool WriteItemRecord(SafeOutput& file, MReadableFile& item, std::uint16_t k);
    bool WriteSequenceGroup(SafeOutput& file);
    bool WriteProgramGroup(SafeOutput& file);
    /// The "HOME" chunk: the folder the project is saved in, which older readers skip.
    bool WriteProjectFolder(SafeOutput& file);
    bool FinishFormLength(SafeOutput& file);
    // Text dump
    bool DumpWrite(std::string& out, std::string_view text);
    bool DumpProject(std::string& out);
    bool DumpInstruments(std::string& out);
    bool DumpSamples(std::string& out);
    bool DumpSampleLine(std::string& out, const MSoundFile& sample);
    bool DumpBanks(std::string& out);
    bool DumpSequences(std::string& out);

    Platform platform;
    DocumentUi& ui;
    PendingFilesQueue& pending;
    std::string documentPath = "untitled";
    bool hasFile = false;
    bool keepBackup = false;
    bool documentDamaged = false;
    std::string storedFrom, storedTo; // StoreFolderAs

    // The singletons, in order of creation; destroyed in reverse order.
    std::unique_ptr<APrefs> prefs;
    std::unique_ptr<Services> services;
    std::unique_ptr<MProject> project;
    UpperSingletons* upperSingletons = nullptr;
    std::unique_ptr<MReadableFileDispatcher> projectDispatcher;
    std::unique_ptr<MReadableFileDispatcher> soundDispatcher;
    std::unique_ptr<MReadableFileDispatcher> instDispatcher;
    std::unique_ptr<MReadableFileDispatcher> seqDispatcher;
    std::unique_ptr<MReadableFileDispatcher> paramDispatcher;
    std::unique_ptr<MReadableFileCreator> creator;
};

} // namespace cardmill
