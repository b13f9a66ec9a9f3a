#pragma once

#include "model/ALoaderProgressDialog.h"
#include "model/MCardmill.h"

#include <QDialog>
#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QTimer;
class QFileDialog;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace cardmill {

class AKeyboardPlayer;
class AudioOutput;
class MInstFileInstrument;

class ASoundSystem;
class MReadableFile;

/// The file dialog with a panel of the application's own: files are collected into pending
/// lists ("&Add", "&Remove"), the file in preview shows its information lines, and "&Done" ends
/// the collection ("Cancel" drops it). The file chooser is Qt's own widget, embedded, so that
/// confirming a name (a double click) adds it instead of ending the dialog.
class ACollectFilesDialog : public QDialog {
public:
    ACollectFilesDialog(MCardmill& controller, QWidget* parent, const QString& title,
        const QStringList& filters, const QString& listTitle);
    ~ACollectFilesDialog() override;

    QFileDialog* Chooser() const { return chooser; }
    QPushButton* AddButton() const { return addButton; }
    QPushButton* RemoveButton() const { return removeButton; }
    QPushButton* DoneButton() const { return doneButton; }
    QListWidget* PendingList() const { return pendingList; }
    /// The panel's lines on the file in preview: its name, format, three information lines and
    /// what it leaves out of the card.
    QString InfoLine(int line) const;

    /// Adds the files selected in the chooser.
    void AddSelected();
    /// Where "&Play" plays the file in preview.
    void SetSoundSystem(ASoundSystem* system) { soundSystem = system; }
    /// Where "&Play" plays an instrument or preset in preview: a phrase across its key groups.
    void SetVoiceOutput(AudioOutput& output);
    QPushButton* PlayButton() const { return playButton; }

protected:
    void showEvent(QShowEvent* event) override;
    /// The list a file goes to (its group), or none when it can't be added (told).
    virtual std::optional<int> ListFor(const MReadableFile& file) = 0;
    /// The kind of file the chosen filter lists, which is asked first.
    virtual MCardmill::AddFilter Filter() const = 0;
    /// Whether files of other kinds are taken as what they are.
    virtual MCardmill::OtherKinds Others() const = 0;
    /// A pending file's row: its name, and in the add-files dialog its group.
    virtual void FillRow(QListWidgetItem& row, int list, const MReadableFile& file) const;
    /// Every pending file, list by list; `visible` is scrolled into view.
    void ShowPending(const MReadableFile* visible = nullptr);
    void Preview(std::unique_ptr<MReadableFile> file);
    bool IsPending(const std::string& path) const;

    MCardmill& controller;
    QFileDialog* chooser;
    QLabel* panelTitle;
    QListWidget* pendingList;
    std::array<QLabel*, 6> info {};
    QPushButton* addButton;
    QPushButton* removeButton;
    QPushButton* playButton;
    QPushButton* doneButton;
    QPushButton* cancelButton;
    std::vector<std::deque<std::unique_ptr<MReadableFile>>> pending;
    /// The list and place in it of each row shown.
    std::vector<std::pair<int, std::size_t>> rows;
    std::unique_ptr<MReadableFile> previewed;
    ASoundSystem* soundSystem = nullptr;
    AKeyboardPlayer* phrase = nullptr;
    /// The instrument in preview, when it can be played.
    MInstFileInstrument* PreviewedVoice() const;
    QTimer* playTimer;

private:
    void PlayOrStop();
    void FollowPlayback();
    void RemoveSelected();
    void PreviewChosen(const QString& path);
    /// The file, or the presets of a library that the user picks from it.
    std::vector<std::string> PathsToAdd(const std::string& path);
    void PreviewRow();
};

/// The file itself, or for a library of presets (a SoundFont) the presets the user picks from it,
/// each as its path with the preset.
std::vector<std::string> PresetPathsToAdd(QWidget* parent, const std::string& path);

/// "Add files to project": one pending list per group; sequences go to Sequences and banks to
/// Programs whatever group is chosen, and every pending file is listed with its group. The loader
/// takes the files after "&Done".
class AAddFilesDialog final : public ACollectFilesDialog, public WaitingFiles {
public:
    AAddFilesDialog(MCardmill& controller, QWidget* parent);

    /// Opens it for a use, showing `group` (the main window's current one).
    int Open(int group);
    bool HasPending() const;
    std::unique_ptr<MReadableFile> TakeNextWaiting(std::optional<int>& group) override;
    void ClearPending();
    QComboBox* GroupChooser() const { return groupChooser; }

protected:
    std::optional<int> ListFor(const MReadableFile& file) override;
    MCardmill::AddFilter Filter() const override;
    /// The filter chooses what the chooser lists: a SoundFont typed while sounds are listed is
    /// still an instrument, and a song a song.
    MCardmill::OtherKinds Others() const override { return MCardmill::OtherKinds::Taken; }
    void FillRow(QListWidgetItem& row, int list, const MReadableFile& file) const override;

private:
    void ChooseGroup(int group);
    void FilterChosen(const QString& filter);

    QComboBox* groupChooser;
    int shownGroup = 0;
    bool collecting = false;
};

/// "Create instrument": sound files collected in order for a new instrument file.
class ACreateInstrumentDialog final : public ACollectFilesDialog {
public:
    ACreateInstrumentDialog(MCardmill& controller, QWidget* parent);
    /// Writes the collected sounds as an instrument file; false (told) when there is none.
    bool WriteInstrument(const std::string& path, Prompter& prompter);
    void CleanUp();

protected:
    std::optional<int> ListFor(const MReadableFile& file) override;
    MCardmill::AddFilter Filter() const override { return MCardmill::AddFilter::Sound; }
    MCardmill::OtherKinds Others() const override { return MCardmill::OtherKinds::Refused; }
};

} // namespace cardmill
