#pragma once

#include "ProgressView.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace cardmill {

/// When progress is shown: on a terminal only (the default), also as plain lines into a file or
/// pipe (--progress), or never (--quiet).
enum class ProgressShown { OnTerminal, Always, Never };

/// Progress of the command line on stderr: on a terminal one live status line with a bar, the
/// percentage and the time left; elsewhere, when asked for, plain lines written only when a phase
/// or sector line changes and at every tenth of the way. The instrument's banner is information,
/// not progress: it is shown unless progress is never shown.
class TerminalProgressView final : public ProgressView {
public:
    /// `stopFlag` is raised by the interrupt handler (Ctrl-C) and read as the Stop button.
    explicit TerminalProgressView(const std::atomic<bool>& stopFlag, std::FILE* output = stderr,
        ProgressShown shown = ProgressShown::OnTerminal);
    ~TerminalProgressView() override;

    void SetBanner(std::string_view text) override;
    void SetPhase(std::string_view lead, std::string_view detail) override;
    void SetSector(std::string_view lead, std::string_view detail) override;
    void SetBlock(std::string_view lead, std::string_view detail) override;
    void SetPercent(int percent) override;
    void SetTimeLeft(std::int64_t seconds) override;
    /// A line of its own, shown as the banner is.
    void Note(std::string_view text) override;
    /// A conversion's inner steps are the desktop's detail, not the command line's.
    bool ShowsInnerSteps() const override { return false; }
    /// Ctrl-C stops the whole command: an operation that clears its stop does not clear it.
    bool StopRequested() const override { return stop.load(); }
    void ClearStop() override { }

    /// Ends the live line so that later messages start on a line of their own.
    void Finish();

private:
    void Draw(bool force);
    void PlainLine(const std::string& text);

    const std::atomic<bool>& stop;
    std::FILE* out;
    bool live;
    bool plain;
    bool quiet;
    std::string phase, sector, block;
    int percent = -1;
    int lastPlainTenth = -1;
    std::int64_t timeLeft = -1; // told by the operation; -1: estimated here
    bool lineOpen = false;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastDraw;
};

} // namespace cardmill
