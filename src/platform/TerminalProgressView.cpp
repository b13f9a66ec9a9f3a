#include "TerminalProgressView.h"

#include "TerminalPrompter.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cardmill {

namespace {

int TerminalWidth(std::FILE* out)
{
    winsize size {};
    const int descriptor = ::fileno(out) < 0 ? STDERR_FILENO : ::fileno(out);
    if (::ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

std::string Joined(std::string_view a, std::string_view b)
{
    return std::string(a) + std::string(b);
}

} // namespace

TerminalProgressView::TerminalProgressView(
    const std::atomic<bool>& stopFlag, std::FILE* output, ProgressShown shown)
    : stop(stopFlag)
    , out(output)
    , live(shown != ProgressShown::Never && IsTerminal(output))
    , plain(!live && shown == ProgressShown::Always)
    , quiet(shown == ProgressShown::Never)
    , started(std::chrono::steady_clock::now())
{
}

TerminalProgressView::~TerminalProgressView()
{
    Finish();
}

void TerminalProgressView::Finish()
{
    if (lineOpen) {
        std::fputc('\n', out);
        std::fflush(out);
        lineOpen = false;
    }
}

void TerminalProgressView::PlainLine(const std::string& text)
{
    if (!plain || text.empty())
        return;
    Finish();
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
}

void TerminalProgressView::SetBanner(std::string_view text)
{
    if (!quiet && !text.empty()) {
        Finish();
        std::fprintf(out, "%s\n", std::string(text).c_str());
        std::fflush(out);
    }
}

void TerminalProgressView::Note(std::string_view text)
{
    SetBanner(text);
}

void TerminalProgressView::SetPhase(std::string_view lead, std::string_view detail)
{
    std::string text = Joined(lead, detail);
    if (text == phase)
        return;
    phase = std::move(text);
    if (live)
        Draw(true);
    else
        PlainLine(phase);
}

void TerminalProgressView::SetSector(std::string_view lead, std::string_view detail)
{
    std::string text = Joined(lead, detail);
    if (text == sector)
        return;
    sector = std::move(text);
    if (live)
        Draw(false);
    else
        PlainLine("  " + sector);
}

void TerminalProgressView::SetBlock(std::string_view lead, std::string_view detail)
{
    block = Joined(lead, detail);
    if (live)
        Draw(false);
}

void TerminalProgressView::SetPercent(int value)
{
    value = std::clamp(value, 0, 100);
    if (value == percent)
        return;
    if (percent < 0 || value < percent)
        started = std::chrono::steady_clock::now();
    percent = value;
    if (live) {
        Draw(false);
    } else if (value / 10 != lastPlainTenth) {
        lastPlainTenth = value / 10;
        PlainLine("  " + std::to_string(value) + "%");
    }
}

void TerminalProgressView::SetTimeLeft(std::int64_t seconds)
{
    timeLeft = seconds;
}

void TerminalProgressView::Draw(bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && lineOpen && now - lastDraw < std::chrono::milliseconds(80))
        return;
    lastDraw = now;

    // Where the card stands comes first: the phase (a file's name) is the part that gets cut.
    std::string text;
    for (const std::string* part : { &sector, &block, &phase })
        if (!part->empty())
            text += (text.empty() ? "" : "  ") + *part;
    std::string bar;
    if (percent >= 0) {
        constexpr int kBarWidth = 20;
        const int filled = percent * kBarWidth / 100;
        bar = " [" + std::string(static_cast<std::size_t>(filled), '#')
            + std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] "
            + std::to_string(percent) + "%";
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started);
        long left = -1;
        if (timeLeft >= 0)
            left = static_cast<long>(timeLeft);
        else if (percent > 0 && elapsed.count() > 0)
            left = static_cast<long>(elapsed.count()) * (100 - percent) / percent;
        if (left >= 0 && percent < 100)
            bar += " " + DurationText(left) + " left";
    }
    const std::size_t width = static_cast<std::size_t>(TerminalWidth(out)) - 1;
    if (text.size() + bar.size() > width)
        text.resize(width > bar.size() ? width - bar.size() : 0);
    text += bar;
    std::fprintf(out, "\r%-*s", static_cast<int>(width), text.c_str());
    std::fflush(out);
    lineOpen = true;
}

} // namespace cardmill
