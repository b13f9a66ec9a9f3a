#pragma once

#include "synth/SimOptions.h"
#include "synth/VirtualInstrument.h"

#include <cstdio>
#include <memory>
#include <string>

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
    bool Unsaved() const { return !cardPath.empty() && instrument.Changed(); }
    /// Writes the card to its file when it is unsaved; the file is replaced only when complete.
    bool SaveCard(std::string& error);

private:
    explicit SimInstrument(const SimOptions& options);

    VirtualInstrument instrument;
    std::string cardPath;
    std::FILE* log = nullptr;
};

} // namespace cardmill
