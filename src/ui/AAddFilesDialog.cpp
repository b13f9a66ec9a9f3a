#include "ui/AAddFilesDialog.h"

#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "model/Services.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/instrument/MInstFileRegions.h"
#include "model/sound/ASoundSystem.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"
#include "ui/AChoosePresetsDialog.h"
#include "ui/AKeyboardPlayer.h"
#include "ui/GroupLabels.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace cardmill {

namespace {

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QStringList kAddFilters { QStringLiteral("Sound Files (*.aif *.aiff *.sd *.wav *.flac *.ogg "
                                               "*.oga *.opus *.w64 *.caf *.aifc)"),
    QStringLiteral("Instrument Files (*.ins *.cmt *.sc1 *.sc2 *.sfz *.dspreset *.sf2 *.sf3 *.dls "
                   "*.dslibrary)"),
    QStringLiteral("Standard MIDI Files (*.mid *.midi *.smf)"),
    QStringLiteral("SysEx Files (*.syx)"), QStringLiteral("All Files (*)") };

// A file being looked at gets as far as its information lines; a damaged one stops early.
constexpr int kPreviewLoadSteps = 10000;

/// Qt's file dialog as a part of another window. Made with any flags, a QDialog is a window of
/// its own (one that nobody shows), and confirming a name would end it. Here confirming a name
/// (Enter, a double click) only says which files were chosen, and Escape ends the whole dialog.
class EmbeddedChooser final : public QFileDialog {
public:
    explicit EmbeddedChooser(QDialog* owner)
        : QFileDialog(owner)
        , owner(owner)
    {
        setWindowFlags(Qt::Widget);
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::ReadOnly);
        // The panel's buttons stand for the chooser's own; Enter, which pressed its Open, now
        // confirms the name typed by itself.
        if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
            box->hide();
        if (auto* name = NameField())
            connect(name, &QLineEdit::returnPressed, this, [this] { accept(); });
    }

    QLineEdit* NameField() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

    void done(int result) override
    {
        if (result == QDialog::Rejected)
            owner->reject();
        else if (QLineEdit* name = NameField())
            name->clear(); // the names were taken; the next ones are typed afresh
    }

private:
    QDialog* owner;
};

} // namespace

ACollectFilesDialog::ACollectFilesDialog(MCardmill& cardmill, QWidget* parent, const QString& title,
    const QStringList& filters, const QString& listTitle)
    : QDialog(parent)
    , controller(cardmill)
    , chooser(new EmbeddedChooser(this))
    , panelTitle(new QLabel(listTitle, this))
    , pendingList(new QListWidget(this))
    , addButton(new QPushButton(QStringLiteral("&Add"), this))
    , removeButton(new QPushButton(QStringLiteral("&Remove"), this))
    , playButton(new QPushButton(QStringLiteral("&Play"), this))
    , doneButton(new QPushButton(QStringLiteral("&Done"), this))
    , cancelButton(new QPushButton(QStringLiteral("Cancel"), this))
    , playTimer(new QTimer(this))
{
    setWindowTitle(title);
    chooser->setFileMode(QFileDialog::ExistingFiles);
    chooser->setNameFilters(filters);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(chooser, 1);
    auto* panel = new QVBoxLayout;
    panel->addWidget(panelTitle);
    panel->addWidget(pendingList, 1);
    for (QLabel*& line : info) {
        line = new QLabel(this);
        panel->addWidget(line);
    }
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : { addButton, removeButton, playButton, doneButton, cancelButton })
        buttons->addWidget(button);
    panel->addLayout(buttons);
    layout->addLayout(panel);
    pendingList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    playButton->setEnabled(false);
    resize(960, 520);

    connect(addButton, &QPushButton::clicked, this, &ACollectFilesDialog::AddSelected);
    connect(playButton, &QPushButton::clicked, this, &ACollectFilesDialog::PlayOrStop);
    connect(playTimer, &QTimer::timeout, this, &ACollectFilesDialog::FollowPlayback);
    connect(removeButton, &QPushButton::clicked, this, &ACollectFilesDialog::RemoveSelected);
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Confirming names (a double click, Enter) adds them; the chooser stays open.
    connect(chooser, &QFileDialog::filesSelected, this, &ACollectFilesDialog::AddSelected);
    connect(chooser, &QFileDialog::currentChanged, this, &ACollectFilesDialog::PreviewChosen);
    connect(
        pendingList, &QListWidget::itemSelectionChanged, this, &ACollectFilesDialog::PreviewRow);
}

ACollectFilesDialog::~ACollectFilesDialog()
{
    Preview(nullptr);
}

void ACollectFilesDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Ready for a name or a path to be typed, as in any file dialog.
    if (QLineEdit* name = static_cast<EmbeddedChooser*>(chooser)->NameField())
        name->setFocus();
}

void ACollectFilesDialog::SetVoiceOutput(AudioOutput& output)
{
    phrase = new AKeyboardPlayer(output, this);
}

MInstFileInstrument* ACollectFilesDialog::PreviewedVoice() const
{
    auto* voice = dynamic_cast<MInstFileInstrument*>(previewed.get());
    return phrase && voice && voice->IsLoaded() && voice->GetLoadedCount() > 0 ? voice : nullptr;
}

void ACollectFilesDialog::PlayOrStop()
{
    if (MInstFileInstrument* voice = PreviewedVoice()) {
        if (soundSystem)
            soundSystem->Stop();
        std::string error;
        if (phrase->Playing()) {
            phrase->Stop();
        } else if (phrase->LoadAlone(
                       *voice, controller.Prefs(), controller.GetServices().prompter, error)) {
            phrase->Play(PhraseAcross(phrase->Voice()));
            playButton->setText(QStringLiteral("Sto&p"));
            playTimer->start(50);
        } else {
            info.back()->setText(QStringLiteral("It can't be played: %1.").arg(Text(error)));
        }
        FollowPlayback();
        return;
    }
    auto* sound = dynamic_cast<MSoundFile*>(previewed.get());
    if (!soundSystem || !sound)
        return;
    if (soundSystem->IsPlaying(sound)) {
        soundSystem->Stop();
    } else if (soundSystem->Play(*sound)) {
        playButton->setText(QStringLiteral("Sto&p"));
        playTimer->start(50);
    }
    FollowPlayback();
}

void ACollectFilesDialog::FollowPlayback()
{
    auto* sound = dynamic_cast<MSoundFile*>(previewed.get());
    const bool playing = (phrase && phrase->Playing())
        || (soundSystem && soundSystem->Poll(sound) && soundSystem->IsPlaying(sound));
    if (!playing) {
        playTimer->stop();
        playButton->setText(QStringLiteral("&Play"));
    }
}

QString ACollectFilesDialog::InfoLine(int line) const
{
    return line >= 0 && line < static_cast<int>(info.size())
        ? info[static_cast<std::size_t>(line)]->text()
        : QString();
}

bool ACollectFilesDialog::IsPending(const std::string& path) const
{
    for (const auto& list : pending)
        for (const auto& file : list)
            if (file->GetPath() == path)
                return true;
    return false;
}

void ACollectFilesDialog::AddSelected()
{
    for (const QString& chosen : chooser->selectedFiles()) {
        if (QFileInfo(chosen).isDir())
            continue;
        for (const std::string& path : PathsToAdd(chosen.toUtf8().toStdString())) {
            if (IsPending(path))
                continue;
            auto file = controller.CreateForAdding(path, Filter(), false, Others());
            if (!file)
                continue;
            const auto list = ListFor(*file);
            if (!list)
                continue;
            const MReadableFile* added = file.get();
            pending[static_cast<std::size_t>(*list)].push_back(std::move(file));
            ShowPending(added);
        }
    }
}

std::vector<std::string> ACollectFilesDialog::PathsToAdd(const std::string& path)
{
    // A library is asked for its presets whatever kind of file is listed: typed while sounds
    // are, it is no sound, and never raw data.
    if (Others() == MCardmill::OtherKinds::Refused)
        return { path };
    return PresetPathsToAdd(this, path);
}

std::vector<std::string> PresetPathsToAdd(QWidget* parent, const std::string& path)
{
    std::string damage;
    const auto catalog
        = IsInstrumentLibrary(path) ? ReadLibraryCatalog(path, damage) : std::nullopt;
    // A damaged library is named by the loader; a library of one preset is that preset.
    if (!catalog || catalog->presets.size() < 2)
        return { path };
    AChoosePresetsDialog dialog(parent, FileNameOf(path), *catalog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    std::vector<std::string> paths;
    for (const LibraryPreset& preset : dialog.Chosen())
        paths.push_back(JoinLibraryPath(path, preset));
    return paths;
}

void ACollectFilesDialog::FillRow(QListWidgetItem& row, int, const MReadableFile& file) const
{
    row.setText(Text(file.GetFileName()));
}

void ACollectFilesDialog::ShowPending(const MReadableFile* visible)
{
    pendingList->clear();
    rows.clear();
    for (std::size_t list = 0; list < pending.size(); ++list) {
        for (std::size_t at = 0; at < pending[list].size(); ++at) {
            const MReadableFile& file = *pending[list][at];
            auto* row = new QListWidgetItem(pendingList);
            FillRow(*row, static_cast<int>(list), file);
            rows.emplace_back(static_cast<int>(list), at);
            if (&file == visible)
                pendingList->scrollToItem(row);
        }
    }
}

void ACollectFilesDialog::RemoveSelected()
{
    Preview(nullptr);
    std::vector<std::pair<int, std::size_t>> chosen;
    for (const QListWidgetItem* item : pendingList->selectedItems())
        chosen.push_back(rows[static_cast<std::size_t>(pendingList->row(item))]);
    // From the last, so that the places of the others still hold.
    std::sort(chosen.rbegin(), chosen.rend());
    for (const auto& [list, at] : chosen) {
        auto& files = pending[static_cast<std::size_t>(list)];
        files.erase(files.begin() + static_cast<std::ptrdiff_t>(at));
    }
    ShowPending();
}

void ACollectFilesDialog::Preview(std::unique_ptr<MReadableFile> file)
{
    // The file looked at before is stopped and let go.
    if (phrase)
        phrase->Stop();
    previewed = std::move(file);
    if (playTimer)
        FollowPlayback();
    if (previewed) {
        // What the file leaves out of the card is told once, when it is added; here it is a
        // line of the panel.
        Services& services = controller.GetServices();
        services.previewing = true;
        for (int step = 0; step < kPreviewLoadSteps && previewed->LoadStep() == 0; ++step) { }
        services.previewing = false;
    }
    const auto* regions = dynamic_cast<const MInstFileRegions*>(previewed.get());
    const std::string lines[] = { previewed ? previewed->GetFileName() : std::string(),
        previewed ? previewed->GetFormatName() : std::string(),
        previewed ? previewed->GetInfoLine1() : std::string(),
        previewed ? previewed->GetInfoLine2() : std::string(),
        previewed ? previewed->GetInfoLine3() : std::string(),
        regions ? regions->LeftOutLine() : std::string() };
    for (std::size_t line = 0; line < info.size(); ++line)
        info[line]->setText(Text(lines[line]));
    playButton->setEnabled(
        (soundSystem && previewed && previewed->CanPreview()) || PreviewedVoice());
}

void ACollectFilesDialog::PreviewChosen(const QString& path)
{
    if (path.isEmpty() || QFileInfo(path).isDir()) {
        Preview(nullptr);
        return;
    }
    const std::string chosen = path.toUtf8().toStdString();
    std::string damage;
    const auto catalog
        = IsInstrumentLibrary(chosen) ? ReadLibraryCatalog(chosen, damage) : std::nullopt;
    if (catalog && catalog->presets.size() > 1) {
        // Which presets are wanted is asked on adding; here only what the file holds.
        Preview(nullptr);
        info[0]->setText(Text(FileNameOf(chosen)));
        info[1]->setText(Text(catalog->formatName));
        info[2]->setText(QStringLiteral("%1 presets").arg(catalog->presets.size()));
        addButton->setEnabled(true);
        return;
    }
    Preview(controller.Recognise(chosen, Filter(), Others()));
    addButton->setEnabled(!IsPending(chosen));
}

void ACollectFilesDialog::PreviewRow()
{
    const auto selected = pendingList->selectedItems();
    if (selected.size() != 1) {
        Preview(nullptr);
        return;
    }
    const int row = pendingList->row(selected.front());
    if (row < 0 || row >= static_cast<int>(rows.size()))
        return;
    const auto& [list, at] = rows[static_cast<std::size_t>(row)];
    Preview(controller.Recognise(
        pending[static_cast<std::size_t>(list)][at]->GetPath(), Filter(), Others()));
}

AAddFilesDialog::AAddFilesDialog(MCardmill& cardmill, QWidget* parent)
    : ACollectFilesDialog(cardmill, parent, QStringLiteral("Add files to project"), kAddFilters,
        QStringLiteral("Files to add:"))
    , groupChooser(new QComboBox(this))
{
    pending.resize(MProject::kGroupCount);
    pendingList->setIconSize(QSize(16, 16));
    static_cast<QVBoxLayout*>(layout()->itemAt(1)->layout())->insertWidget(0, groupChooser);
    connect(groupChooser, &QComboBox::activated, this, [this](int index) { ChooseGroup(index); });
    connect(chooser, &QFileDialog::filterSelected, this, &AAddFilesDialog::FilterChosen);
}

int AAddFilesDialog::Open(int group)
{
    const MProject& project = controller.Project();
    groupChooser->clear();
    for (int g = 0; g < MProject::kSoundGroups; ++g) {
        groupChooser->addItem(GroupIcon(g), GroupLabel(project, g));
        // The instrument's own groups: a Percula card has no drum groups.
        if (project.IsGroupUnavailable(g))
            qobject_cast<QStandardItemModel*>(groupChooser->model())->item(g)->setEnabled(false);
    }
    ChooseGroup(project.IsGroupUnavailable(group) ? 0 : group);
    // What the loader took after the last use is no longer waiting.
    ShowPending();
    collecting = true;
    const int result = exec();
    collecting = false;
    Preview(nullptr);
    if (result != QDialog::Accepted)
        ClearPending();
    return result;
}

void AAddFilesDialog::ChooseGroup(int group)
{
    shownGroup = group;
    groupChooser->setVisible(group < MProject::kSoundGroups);
    if (group < MProject::kSoundGroups)
        groupChooser->setCurrentIndex(group);
}

void AAddFilesDialog::FillRow(QListWidgetItem& row, int list, const MReadableFile& file) const
{
    // Files of every group are listed together: each says where it goes.
    row.setIcon(GroupIcon(list));
    row.setText(Text(file.GetFileName()) + QStringLiteral("  (")
        + GroupLabel(controller.Project(), list) + QStringLiteral(")"));
}

void AAddFilesDialog::FilterChosen(const QString& filter)
{
    const auto index = kAddFilters.indexOf(filter);
    if (index == 2)
        ChooseGroup(MProject::kSequenceGroup);
    else if (index == 3)
        ChooseGroup(MProject::kProgramGroup);
    else if (index < 2 && shownGroup >= MProject::kSoundGroups)
        ChooseGroup(std::max(0, groupChooser->currentIndex()));
}

MCardmill::AddFilter AAddFilesDialog::Filter() const
{
    switch (kAddFilters.indexOf(chooser->selectedNameFilter())) {
    case 0:
        return MCardmill::AddFilter::Sound;
    case 1:
        return MCardmill::AddFilter::Instrument;
    case 2:
        return MCardmill::AddFilter::Sequence;
    case 3:
        return MCardmill::AddFilter::Bank;
    default:
        return MCardmill::AddFilter::Any;
    }
}

std::optional<int> AAddFilesDialog::ListFor(const MReadableFile& file)
{
    const MProject& project = controller.Project();
    const int category = file.GetCategory();
    int group = category == MProject::kSequenceGroup || category == MProject::kProgramGroup
        ? category
        : std::max(0, groupChooser->currentIndex());
    const auto waiting = static_cast<int>(pending[static_cast<std::size_t>(group)].size());
    if (project.CountItems(group) + waiting >= project.GetCapacity(group)) {
        QApplication::beep();
        return std::nullopt;
    }
    if (group != shownGroup)
        ChooseGroup(group);
    return group;
}

bool AAddFilesDialog::HasPending() const
{
    // Files still being collected are not the loader's yet, even in the moment between Cancel
    // and the dialog's end, when the idle timer may run.
    return !collecting && std::any_of(pending.begin(), pending.end(), [](const auto& list) {
        return !list.empty();
    });
}

std::unique_ptr<MReadableFile> AAddFilesDialog::TakeNextWaiting(std::optional<int>& group)
{
    for (std::size_t g = 0; g < pending.size(); ++g) {
        if (pending[g].empty())
            continue;
        auto file = std::move(pending[g].front());
        pending[g].pop_front();
        group = static_cast<int>(g);
        return file;
    }
    return nullptr;
}

void AAddFilesDialog::ClearPending()
{
    for (auto& list : pending)
        list.clear();
    ShowPending();
}

ACreateInstrumentDialog::ACreateInstrumentDialog(MCardmill& cardmill, QWidget* parent)
    : ACollectFilesDialog(cardmill, parent, QStringLiteral("Create instrument"),
        { QStringLiteral("Sound Files (*.aif *.aiff *.sd *.wav)"),
            QStringLiteral("All Files (*)") },
        QStringLiteral("Samples for new instrument:"))
{
    pending.resize(1);
}

std::optional<int> ACreateInstrumentDialog::ListFor(const MReadableFile& file)
{
    if (!dynamic_cast<const MSoundFile*>(&file))
        return std::nullopt;
    return 0;
}

bool ACreateInstrumentDialog::WriteInstrument(const std::string& path, Prompter& prompter)
{
    if (pending[0].empty()) {
        ReportFailure(prompter, "A Cardmill Instrument file must contain at least one sample.");
        return false;
    }
    std::vector<std::unique_ptr<MSoundFile>> sounds;
    for (auto& file : pending[0])
        sounds.emplace_back(dynamic_cast<MSoundFile*>(file.release()));
    pending[0].clear();
    ShowPending();
    // The key groups follow the samples' own roots, whatever order they were chosen in.
    return WriteInstrumentFile(
        controller, prompter, path, std::move(sounds), { InstrumentKeys::Layout::ByRoot, {} });
}

void ACreateInstrumentDialog::CleanUp()
{
    Preview(nullptr);
    pending[0].clear();
    ShowPending();
}

} // namespace cardmill
