#include "app/AMainFrame.h"

#include "app/AApplication.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "synth/AMidi.h"
#include "ui/AMainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

namespace cardmill {

namespace {

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The About box and splash: a picture with the version, the legal notice and a credit line;
/// it closes when a mouse button is released over it, and the splash also after its time.
class AAboutDialog final : public QDialog {
public:
    AAboutDialog(QWidget* parent, int seconds)
        : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog)
        , displaySeconds(seconds)
        , started(std::chrono::steady_clock::now())
    {
        setFixedSize(350, 225);
        setWindowTitle(QStringLiteral("About Cardmill"));
        connect(&timer, &QTimer::timeout, this, [this] {
            const auto elapsed = std::chrono::steady_clock::now() - started;
            if (displaySeconds > 0 && elapsed >= std::chrono::seconds(displaySeconds))
                accept();
        });
        timer.start(100);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QLinearGradient sky(0, 0, 0, height());
        sky.setColorAt(0, QColor(20, 30, 60));
        sky.setColorAt(1, QColor(70, 40, 90));
        painter.fillRect(rect(), sky);
        // A memory card, drawn.
        painter.setBrush(QColor(40, 40, 48));
        painter.setPen(QColor(200, 200, 210));
        painter.drawRoundedRect(18, 40, 64, 100, 6, 6);
        for (int pin = 0; pin < 6; ++pin)
            painter.fillRect(24 + pin * 9, 124, 5, 12, QColor(210, 180, 90));
        painter.setPen(QColor(250, 200, 150));
        QFont font(QStringLiteral("Sans"));
        font.setPixelSize(15);
        painter.setFont(font);
        painter.drawText(QRect(100, 10, 250, 20), Qt::AlignLeft,
            QStringLiteral("Version %1").arg(QStringLiteral(CARDMILL_VERSION)));
        font.setPixelSize(28);
        painter.setFont(font);
        painter.drawText(QRect(100, 70, 250, 40), Qt::AlignLeft, QStringLiteral("Cardmill"));
        font.setPixelSize(14);
        painter.setFont(font);
        painter.drawText(
            QRect(100, 190, 250, 15), Qt::AlignLeft, QStringLiteral("Copyright Orvane Inc."));
        painter.drawText(QRect(100, 205, 250, 15), Qt::AlignLeft,
            QStringLiteral("Cards for the Zelta and Percula"));
    }
    void mouseReleaseEvent(QMouseEvent*) override { accept(); }

private:
    int displaySeconds;
    std::chrono::steady_clock::time_point started;
    QTimer timer;
};

constexpr int kPaneWidths[] = { 0, 58, 51, 126, 77, 59, 177 };

/// The theme's warning colour: red, as dark as dark text or as light as light text, so that it
/// reads on the theme's own background.
QColor WarningColour(const QPalette& palette)
{
    const int lightness = std::clamp(palette.color(QPalette::WindowText).lightness(), 80, 190);
    return QColor::fromHsl(0, 210, lightness);
}

} // namespace

AStatusBar::AStatusBar(AApplication& application, QWidget* parent)
    : QWidget(parent)
    , app(application)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(8);
    const char* texts[] = { "", "Card Size:", "", "Free bytes remaining:", "Calculating...",
        "Clipboard:", "empty" };
    for (int pane = 0; pane < 7; ++pane) {
        panes[pane] = new QLabel(QString::fromUtf8(texts[pane]), this);
        panes[pane]->setMinimumWidth(kPaneWidths[pane]);
        if (pane > 0)
            layout->addWidget(panes[pane]);
    }
    layout->addStretch(1);
    port = new QLabel(this);
    port->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(port);
    connect(&timer, &QTimer::timeout, this, &AStatusBar::Tick);
    timer.start(kTickMs);
}

QString AStatusBar::PaneText(int pane) const
{
    return pane >= 0 && pane < 7 ? panes[pane]->text() : QString();
}

QColor AStatusBar::PaneColour(int pane) const
{
    return pane >= 0 && pane < 7 ? panes[pane]->palette().color(QPalette::WindowText) : QColor();
}

QString AStatusBar::PortText() const
{
    return port->text();
}

void AStatusBar::SetPane(int pane, const QString& text)
{
    if (panes[pane]->text() == text)
        return;
    panes[pane]->setText(text);
    if (pane == 3 || pane == 4) // the free bytes; a long clipboard name may be cut
        FitPane(pane);
}

void AStatusBar::FitPane(int pane)
{
    // A longer text (a bold "Over the card by" and its number) widens its pane rather than
    // being cut; the window grows to hold it when it must.
    panes[pane]->setMinimumWidth(std::max(kPaneWidths[pane], panes[pane]->sizeHint().width()));
}

void AStatusBar::ShowOver(bool over)
{
    SetPane(3, over ? QStringLiteral("Over the card by") : QStringLiteral("Free bytes remaining:"));
    // Only the text's colour and weight are set: the rest follows the theme.
    QPalette colours;
    QFont font;
    if (over) {
        colours.setColor(QPalette::WindowText, WarningColour(palette()));
        font.setBold(true);
    }
    for (const int pane : { 3, 4 }) {
        panes[pane]->setPalette(colours);
        panes[pane]->setFont(font);
        FitPane(pane);
    }
}

void AStatusBar::Restart()
{
    restartPending = true;
    QTimer::singleShot(0, this, &AStatusBar::Tick);
}

void AStatusBar::Tick()
{
    // An operation on its worker thread owns the project until it ends.
    if (app.OperationRunning())
        return;
    MProject& project = app.Controller().Project();
    if (project.SizeChanges() != seenChanges) {
        seenChanges = project.SizeChanges();
        restartPending = true;
    }
    if (restartPending) {
        // The project reports a change of size until its total is read: a report left over
        // from before (a reset says "changed" with a total of 0) would end the new calculation
        // at its first step and show the whole card as free. Reading the total clears it, so
        // only the end of a complete pass reports.
        project.RestartSizeScan();
        seenChanges = project.SizeChanges();
        project.GetTotalBytes();
        restartPending = false;
        scanning = true;
    }
    if (scanning) {
        QElapsedTimer slice;
        slice.start();
        bool through = false;
        while (!(through = project.SizeScanStep()) && slice.elapsed() < kSliceMs) { }
        if (through) {
            scanning = false;
            freeSpaceKnown = true;
        } else {
            // A project too large for one slice goes on at once, the window's events between.
            QTimer::singleShot(0, this, &AStatusBar::Tick);
        }
    }
    if (freeSpaceKnown && !scanning) {
        const std::int64_t free = project.FreeBytes();
        // A project over the card is told so, in words and in the theme's warning colour: a
        // minus sign in a column of numbers is easily missed.
        const QString text = free >= 0
            ? QString::number(free)
            : QLocale(QLocale::English).toString(static_cast<qlonglong>(-free))
                + QStringLiteral(" bytes");
        if (panes[4]->text() != text) {
            ShowOver(free < 0);
            SetPane(4, text);
            app.MainWindow().RefreshFileList();
        }
    }
    SetPane(2, Text(project.GetCardSizeText()));
    const MReadableFile* clip = app.MainWindow().Clipboard();
    SetPane(6, clip ? Text(clip->GetFileName()) : QStringLiteral("empty"));
    if (const AMidi* midi = app.Link().Midi()) {
        const std::string input = midi->PreferredInputName();
        const std::string output = midi->PreferredOutputName();
        const QString text = input == output || input.empty()
            ? QStringLiteral("MIDI port: %1").arg(Text(output))
            : QStringLiteral("MIDI ports: in %1, out %2").arg(Text(input), Text(output));
        if (port->text() != text)
            port->setText(text);
    }
}

AMainFrame::AMainFrame(AApplication& application)
    : app(application)
{
    setWindowTitle(QStringLiteral("Cardmill - untitled[*]"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The heading strip: the file list's column titles, lined up with its columns.
    auto* headings = new QWidget(central);
    auto* headingRow = new QHBoxLayout(headings);
    headingRow->setContentsMargins(0, 2, 0, 2);
    headingRow->setSpacing(0);
    const int widths[] = { 136, 134, 88, 61, 8 };
    const char* titles[] = { "Group", "File", "Name", "Size", "" };
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QString::fromUtf8(titles[i]), headings);
        label->setFixedWidth(widths[i]);
        if (i == 3)
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        headingRow->addWidget(label);
    }
    headingRow->addWidget(new QLabel(QStringLiteral("Comment"), headings), 1);
    layout->addWidget(headings);
    mainWindow = new AMainWindow(app, central);
    layout->addWidget(mainWindow, 1);
    setCentralWidget(central);
    status = new AStatusBar(app, this);
    statusBar()->addWidget(status, 1);
    MakeMenus();
    MakeToolBar();
    setAcceptDrops(true);
    resize(720, 420);
}

AMainFrame::~AMainFrame() = default;

void AMainFrame::MakeMenus()
{
    using C = AMainWindow::Command;
    const auto add = [this](QMenu* menu, std::initializer_list<int> commands) {
        for (const int command : commands) {
            if (command < 0)
                menu->addSeparator();
            else
                menu->addAction(mainWindow->Action(static_cast<C>(command)));
        }
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    add(file,
        { C::New, C::Open, C::OpenCardImage, -1, C::CreateInstrument, C::AddFiles, -1, C::Save,
            C::SaveAs, C::Revert, -1, C::Exit });
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    add(edit, { C::Undo, -1, C::Cut, C::Copy, C::Paste, C::Clear, -1, C::Preferences });
    QMenu* project = menuBar()->addMenu(QStringLiteral("&Project"));
    add(project,
        { C::VoiceInfo, C::SampleInfo, C::RenameGroup, C::CardInfo, C::FitToCard, -1, C::EraseCard,
            C::SendToSynth, C::CreateImageFile, C::SendImageFile, -1, C::TestMidi, C::MidiSetup });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, { C::HelpTopics, -1, C::About });
    for (QMenu* menu : { file, edit, project })
        connect(menu, &QMenu::aboutToShow, mainWindow, &AMainWindow::UpdateCommands);
}

void AMainFrame::MakeToolBar()
{
    using C = AMainWindow::Command;
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(32, 32));
    const struct {
        C command;
        QStyle::StandardPixmap icon;
        const char* tip;
    } buttons[] = {
        { C::CreateInstrument, QStyle::SP_FileDialogNewFolder, "Create Instrument" },
        { C::AddFiles, QStyle::SP_FileDialogStart, "Add Files" },
        { C::Save, QStyle::SP_DialogSaveButton, "Save" },
        { C::Cut, QStyle::SP_TrashIcon, "Cut" },
        { C::Copy, QStyle::SP_FileDialogDetailedView, "Copy" },
        { C::Paste, QStyle::SP_FileDialogContentsView, "Paste" },
        { C::PlayStop, QStyle::SP_MediaPlay, "Play/Stop (Space)" },
        { C::MidiSetup, QStyle::SP_ComputerIcon, "MIDI Setup" },
        { C::SendToSynth, QStyle::SP_ArrowRight, "Send to Synthesizer" },
    };
    for (const auto& button : buttons) {
        QAction* action = mainWindow->Action(button.command);
        action->setIcon(style()->standardIcon(button.icon));
        action->setToolTip(QString::fromUtf8(button.tip));
        bar->addAction(action);
        if (button.command != C::Copy && button.command != C::Cut)
            bar->addSeparator();
    }
}

void AMainFrame::ShowAbout(int seconds)
{
    AAboutDialog about(this, seconds);
    about.exec();
}

QString AMainFrame::ManualPath() const
{
    // Beside the program in the build tree (docs/ of the sources), or where it is installed.
    const QDir program(QCoreApplication::applicationDirPath());
    for (const QString& candidate : { QStringLiteral(CARDMILL_SOURCE_DOCS "/manual.html"),
             program.filePath(QStringLiteral("../share/doc/cardmill/manual.html")) })
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    return {};
}

void AMainFrame::closeEvent(QCloseEvent* event)
{
    if (app.OperationRunning() || !app.Controller().QueryClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

void AMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void AMainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile());
    event->acceptProposedAction();
    mainWindow->DropFiles(paths);
}

} // namespace cardmill
