#pragma once

#include "synth/SimOptions.h"
#include "synth/VirtualInstrument.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// A virtual instrument made from its options together with its files: the card read from the
/// card file (an absent file is an erased card) and the log file written a line at a time.
/// Owned by whoever carries its bytes; not thread-safe.
class SimInstrument {
public:
    /// Nothing, with `error` set, when the card file can't be read or is larger than the card,
    /// its folder does not exist, or the log can't be written.
    static std::unique_ptr<SimInstrument> Create(const SimOptions& options, std::string& error);
    ~SimInstrument();
    SimInstrument(const SimInstrument&) = delete;
    SimInstrument& operator=(const SimInstrument&) = delete;

    VirtualInstrument& Instrument() { return instrument; }
    const VirtualInstrument& Instrument() const { return instrument; }
    /// The card needs saving: it has a file and changed since it was read or saved.
    bool Unsaved() const { return !cardPath.empty() && (instrument.Changed() || saveFailed); }
    /// Writes the card to its file when it is unsaved; the file is replaced only when complete.
    bool SaveCard(std::string& error);

    /// For saving elsewhere (on a thread of its own, so that a large card doesn't hold up the
    /// link): a copy of the unsaved card, which counts as saved from now on; nothing when there
    /// is nothing to save.
    std::optional<std::vector<std::uint8_t>> TakeUnsaved();
    /// Writes a copy to the card's file; safe on any thread. The file is replaced only when
    /// complete.
    bool WriteCopy(std::span<const std::uint8_t> card, std::string& error) const;
    /// A copy couldn't be written: the card counts as unsaved again.
    void CopyNotSaved() { saveFailed = true; }

private:
    explicit SimInstrument(const SimOptions& options);

    VirtualInstrument instrument;
    std::string cardPath;
    bool saveFailed = false;
    std::FILE* log = nullptr;
};

} // namespace cardmill
