#pragma once

#include "sim/SimOptions.h"
#include "sim/VirtualInstrument.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// A virtual instrument made from its options together with its files: the card read from the
/// card file (an absent file is an erased card) and kept in it, every change written through
/// before the instrument replies, as a real card keeps what it acknowledged however the program
/// ends; and the log file written a line at a time. Owned by whoever carries its bytes; not
/// thread-safe.
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
    /// Flushes the card's file to disk, after writing the whole card again when a change could
    /// not be written; false with `error` set when that fails too.
    bool SaveCard(std::string& error);
    /// Why the last change that couldn't be written to the card's file failed (once; empty when
    /// none failed since the last call).
    std::string TakeStoreError();

private:
    explicit SimInstrument(const SimOptions& options);
    bool Store(std::size_t offset, std::span<const std::uint8_t> bytes);
    bool StoreFailed(int code);

    VirtualInstrument instrument;
    std::string cardPath;
    int cardFile = -1;
    bool storeFailed = false;
    std::string storeError;
    std::FILE* log = nullptr;
    std::FILE* record = nullptr;
};

} // namespace cardmill
