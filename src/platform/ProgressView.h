#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cardmill {

/// The status lines, progress bar and stop button of a long operation. The GUI shows a progress
/// dialog; the command line a live status line with a bar on stderr; tests record the lines.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void SetBanner(std::string_view text) = 0;
    virtual void SetPhase(std::string_view lead, std::string_view detail) = 0;
    virtual void SetSector(std::string_view lead, std::string_view detail) = 0;
    virtual void SetBlock(std::string_view lead, std::string_view detail) = 0;
    /// Position of the progress bar, 0 to 100.
    virtual void SetPercent(int percent) = 0;
    /// The bar as an activity indicator (work whose length is not known): one move along.
    virtual void Pulse() { }
    /// Seconds the operation expects still to take, from what it measured (a transfer's block
    /// interval); views without it estimate from the percentage.
    virtual void SetTimeLeft(std::int64_t seconds) { (void)seconds; }
    virtual bool StopRequested() const = 0;
    virtual void ClearStop() = 0;
    /// A remark that asks nothing but that the user should read (a pace the link needed), kept
    /// in view as the operation goes on; information, like the banner.
    virtual void Note(std::string_view text) { (void)text; }
    /// Whether the inner steps of a long conversion are worth a line of their own.
    virtual bool ShowsInnerSteps() const { return true; }
};

/// A time as the progress lines show it: "m:ss", or "h:mm:ss" from an hour on.
inline std::string DurationText(std::int64_t seconds)
{
    const auto two = [](std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (seconds >= 3600)
        return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":"
            + two(seconds % 60);
    return std::to_string(seconds / 60) + ":" + two(seconds % 60);
}

/// Shows nothing; used when no operation is running.
class NullProgressView final : public ProgressView {
public:
    void SetBanner(std::string_view) override { }
    void SetPhase(std::string_view, std::string_view) override { }
    void SetSector(std::string_view, std::string_view) override { }
    void SetBlock(std::string_view, std::string_view) override { }
    void SetPercent(int) override { }
    bool StopRequested() const override { return false; }
    void ClearStop() override { }
};

} // namespace cardmill
