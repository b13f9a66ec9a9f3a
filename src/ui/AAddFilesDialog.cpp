#include "ui/AAddFilesDialog.h"

#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/ASoundSystem.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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

/// The presets of a library (a SoundFont) that the user picks to add, in the file's order; none
/// when the choice is cancelled.
std::vector<LibraryPreset> PickPresets(
    QWidget* parent, const std::string& fileName, const LibraryCatalog& catalog)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Choose Presets"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("The %1 file \"%2\" holds %3 presets. Choose the "
                                                "ones to add; each becomes an instrument.")
                                     .arg(Text(catalog.formatName), Text(fileName))
                                     .arg(catalog.presets.size())));
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("presetList"));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const LibraryPreset& preset : catalog.presets)
        list->addItem(QStringLiteral("%1:%2  %3")
                          .arg(preset.bank)
                          .arg(preset.program)
                          .arg(Text(preset.name)));
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Add"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(420, 480);
    list->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return {};
    std::vector<LibraryPreset> chosen;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->isSelected())
            chosen.push_back(catalog.presets[static_cast<std::size_t>(row)]);
    return chosen;
}

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

void ACollectFilesDialog::PlayOrStop()
{
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
    const bool playing = soundSystem && soundSystem->Poll(sound) && soundSystem->IsPlaying(sound);
    if (!playing) {
        playTimer->stop();
        playButton->setText(QStringLiteral("&Play"));
    }
}

QString ACollectFilesDialog::InfoLine(int line) const
{
    return line >= 0 && line < 5 ? info[static_cast<std::size_t>(line)]->text() : QString();
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
            auto file = controller.CreateForAdding(path, Filter(), false);
            if (!file)
                continue;
            const auto list = ListFor(*file);
            if (!list)
                continue;
            pending[static_cast<std::size_t>(*list)].push_back(std::move(file));
            ShowList(*list);
        }
    }
}

std::vector<std::string> ACollectFilesDialog::PathsToAdd(const std::string& path)
{
    if (Filter() == MCardmill::AddFilter::Sound)
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
    std::vector<std::string> paths;
    for (const LibraryPreset& preset : PickPresets(parent, FileNameOf(path), *catalog))
        paths.push_back(JoinLibraryPath(path, preset));
    return paths;
}

void ACollectFilesDialog::ShowList(int list)
{
    pendingList->clear();
    for (const auto& file : pending[static_cast<std::size_t>(list)])
        pendingList->addItem(Text(file->GetFileName()));
}

void ACollectFilesDialog::RemoveSelected()
{
    Preview(nullptr);
    auto& list = pending[static_cast<std::size_t>(ShownList())];
    std::vector<int> rows;
    for (const QListWidgetItem* item : pendingList->selectedItems())
        rows.push_back(pendingList->row(item));
    std::sort(rows.rbegin(), rows.rend());
    for (const int row : rows)
        list.erase(list.begin() + row);
    ShowList(ShownList());
}

void ACollectFilesDialog::Preview(std::unique_ptr<MReadableFile> file)
{
    // The file looked at before is stopped and let go.
    previewed = std::move(file);
    if (playTimer)
        FollowPlayback();
    if (previewed)
        for (int step = 0; step < kPreviewLoadSteps && previewed->LoadStep() == 0; ++step) { }
    const std::string lines[] = { previewed ? previewed->GetFileName() : std::string(),
        previewed ? previewed->GetFormatName() : std::string(),
        previewed ? previewed->GetInfoLine1() : std::string(),
        previewed ? previewed->GetInfoLine2() : std::string(),
        previewed ? previewed->GetInfoLine3() : std::string() };
    for (std::size_t line = 0; line < info.size(); ++line)
        info[line]->setText(Text(lines[line]));
    playButton->setEnabled(soundSystem && previewed && previewed->CanPreview());
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
    Preview(controller.Recognise(chosen, Filter()));
    addButton->setEnabled(!IsPending(chosen));
}

void ACollectFilesDialog::PreviewRow()
{
    const auto selected = pendingList->selectedItems();
    if (selected.size() != 1) {
        Preview(nullptr);
        return;
    }
    const auto& list = pending[static_cast<std::size_t>(ShownList())];
    const int row = pendingList->row(selected.front());
    if (row >= 0 && row < static_cast<int>(list.size()))
        Preview(controller.Recognise(list[static_cast<std::size_t>(row)]->GetPath(), Filter()));
}

AAddFilesDialog::AAddFilesDialog(MCardmill& cardmill, QWidget* parent)
    : ACollectFilesDialog(cardmill, parent, QStringLiteral("Add files to project"), kAddFilters,
        QStringLiteral("Files to add:"))
    , groupChooser(new QComboBox(this))
{
    pending.resize(MProject::kGroupCount);
    static_cast<QVBoxLayout*>(layout()->itemAt(1)->layout())->insertWidget(0, groupChooser);
    connect(groupChooser, &QComboBox::activated, this, [this](int index) { ChooseGroup(index); });
    connect(chooser, &QFileDialog::filterSelected, this, &AAddFilesDialog::FilterChosen);
}

int AAddFilesDialog::Open(int group)
{
    const MProject& project = controller.Project();
    groupChooser->clear();
    for (int g = 0; g < MProject::kSoundGroups; ++g)
        groupChooser->addItem(Text(project.GetGroupName(g)));
    ChooseGroup(group);
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
    ShowList(group);
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
    pendingList->clear();
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
    pendingList->clear();
    return WriteInstrumentFile(controller, prompter, path, std::move(sounds));
}

void ACreateInstrumentDialog::CleanUp()
{
    Preview(nullptr);
    pending[0].clear();
    pendingList->clear();
}

} // namespace cardmill
