#pragma once

#include "ProgressView.h"

#include <string>
#include <vector>

namespace cardmill {

/// Test double: keeps the current lines and a history of every line set.
class RecordingProgressView final : public ProgressView {
public:
    void SetBanner(std::string_view text) override { Record(banner, "banner", text, {}); }
    void SetPhase(std::string_view a, std::string_view b) override { Record(phase, "phase", a, b); }
    void SetSector(std::string_view a, std::string_view b) override
    {
        Record(sector, "sector", a, b);
    }
    void SetBlock(std::string_view a, std::string_view b) override { Record(block, "block", a, b); }
    void SetPercent(int value) override
    {
        percent = value;
        percents.push_back(value);
    }
    void Pulse() override { ++pulses; }
    void Note(std::string_view text) override { Record(note, "note", text, {}); }
    bool StopRequested() const override { return stop; }
    void ClearStop() override { stop = false; }

    std::string banner, phase, sector, block, note;
    int percent = 0;
    int pulses = 0;
    bool stop = false;
    std::vector<std::string> history;
    std::vector<int> percents;

private:
    void Record(std::string& line, const char* which, std::string_view a, std::string_view b)
    {
        line = std::string(a) + std::string(b);
        history.push_back(std::string(which) + ": " + line);
    }
};

} // namespace cardmill
