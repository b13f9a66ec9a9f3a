#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTimer>

namespace cardmill {

class AApplication;
class AMainWindow;

/// The status bar: card size, free bytes and the clipboard. The free bytes follow every change
/// of the project within a tick: the project's size scan runs in slices of a few milliseconds,
/// back to back until it is through, and pauses while an operation owns the project. Panes are
/// rewritten only when their text changes. At the right end, the MIDI port in use.
class AStatusBar final : public QWidget {
public:
    /// How often changes are looked for, and the longest the window waits on one slice.
    static constexpr int kTickMs = 40;
    static constexpr int kSliceMs = 15;

    AStatusBar(AApplication& app, QWidget* parent);
    void Tick();
    /// Starts the free-space calculation again (a new or newly opened project, a sound whose
    /// size changed).
    void Restart();
    QString PaneText(int pane) const;
    /// The colour the free bytes are shown in (the theme's warning colour when over the card).
    QColor PaneColour(int pane) const;
    /// The MIDI port the window sends to (the pane at the bar's right end).
    QString PortText() const;

private:
    void SetPane(int pane, const QString& text);
    void FitPane(int pane);
    void ShowOver(bool over);

    AApplication& app;
    QLabel* panes[7];
    QLabel* port;
    QTimer timer;
    bool freeSpaceKnown = false;
    bool restartPending = true;
    bool scanning = false;
    std::uint64_t seenChanges = 0;
};

/// The main frame: menus, toolbar, the heading strip over the file list, the main window and the
/// status bar. Closing asks the controller first; files dropped from the desktop are opened or
/// added.
class AMainFrame final : public QMainWindow {
public:
    explicit AMainFrame(AApplication& app);
    ~AMainFrame() override;

    AMainWindow& MainWindow() const { return *mainWindow; }
    AStatusBar& Status() const { return *status; }
    /// The About box; with a display time it closes by itself after so many seconds (the splash).
    void ShowAbout(int seconds);
    /// The user manual shipped with the program (empty when it can't be found).
    QString ManualPath() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void MakeMenus();
    void MakeToolBar();

    AApplication& app;
    AMainWindow* mainWindow;
    AStatusBar* status;
};

} // namespace cardmill
