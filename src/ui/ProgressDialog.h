#pragma once

#include "platform/ProgressView.h"

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace cardmill {

/// The "Progress" dialog that hosts a long operation: the operation runs on a worker thread of
/// its own while the dialog is shown modally, so the window never waits on it; the lines and
/// the bar it sets are taken over by the user-interface thread on a timer (a fast operation sets
/// them thousands of times a second), and "Stop" is read by the operation at its next step.
/// While it runs, the operation owns the project: nothing else touches the model.
class ProgressDialog final : public QDialog, public ProgressView {
public:
    /// `withBanner`: the transfer's layout, with the banner line above the phase line.
    ProgressDialog(QWidget* parent, bool withBanner);
    ~ProgressDialog() override;

    /// Runs `job` on the worker thread; returns once it has ended.
    void Run(const std::function<void()>& job);
    /// After a run: the bar hidden and "Stop" relabelled "OK", the dialog stays until pressed.
    void WaitForOk();

    // ProgressView, from any thread.
    void SetBanner(std::string_view text) override;
    void SetPhase(std::string_view lead, std::string_view detail) override;
    void SetSector(std::string_view lead, std::string_view detail) override;
    void SetBlock(std::string_view lead, std::string_view detail) override;
    void SetPercent(int percent) override;
    void Pulse() override;
    void SetTimeLeft(std::int64_t seconds) override;
    /// Shown under the bar until the dialog closes.
    void Note(std::string_view text) override;
    bool StopRequested() const override { return stop.load(); }
    void ClearStop() override { stop = false; }

    /// Every sector and block line shown, and the texts now shown (for tests and the log); line
    /// 4 is the note.
    std::vector<std::string> LinesSeen() const;
    QString LineText(int which) const;
    QPushButton* StopButton() const { return stopButton; }
    /// Presses Stop (what the button and closing the window do).
    void RequestStop();

protected:
    void reject() override { RequestStop(); }

private:
    struct Lines {
        std::string banner, phase, sector, block, timeLeft, note;
        int percent = 0;
        int pulses = 0;
        bool changed = false;
    };
    void Set(std::string Lines::*line, std::string text);
    void Refresh();

    QLabel* banner = nullptr;
    QLabel* phase;
    QLabel* sector;
    QLabel* block;
    QLabel* timeLeft;
    QProgressBar* bar;
    QLabel* note;
    QPushButton* stopButton;
    QTimer refresh;
    std::atomic<bool> stop { false };
    std::atomic<bool> running { false };
    bool waitingForOk = false;

    mutable std::mutex mutex;
    Lines lines; // guarded by mutex
    std::vector<std::string> seen; // guarded by mutex
    int shownPulses = 0;
};

} // namespace cardmill
