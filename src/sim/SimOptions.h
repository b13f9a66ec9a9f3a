#pragma once

#include "sim/VirtualInstrument.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

/// How one virtual instrument is run: what it is, the link that reaches it and the files it
/// keeps. The same options serve `cardmill sim --pty` and the in-process port `sim`.
struct SimOptions {
    VirtualInstrumentOptions instrument;
    /// Emulated link speed in both directions, 10 bits a byte; 0: as fast as possible.
    std::uint32_t baud = 0;
    /// A USB-MIDI interface before the wire that loses bytes: its buffer (bytes; 0: none) and
    /// the byte of each long message it loses (every N-th; 0: none). See LossyInterface.
    std::uint32_t interfaceBuffer = 0;
    std::uint32_t loseEvery = 0;
    /// Active Sensing (0xFE) goes out this often, between replies, as from many instruments;
    /// 0: never.
    std::uint32_t activeSensingMs = 0;
    /// The card's contents are loaded from and saved to this file (none: kept in memory only).
    std::string cardPath;
    /// One line per message received and reply sent (none: no log).
    std::string logPath;
    /// Every byte received is appended to this file as it arrives (none: not recorded).
    std::string recordPath;
    bool pty = false;
};

/// Where the options are read: the `sim` command serves a pty, the in-process port cannot.
enum class SimPlace { Command, InProcess };

/// The options of a virtual instrument, from its words (`--card FILE --baud 31250 ...`, a value
/// after its option or after `=`); nothing, with `error` saying what is wrong, for an unknown
/// option, a missing or bad value, a stray argument, or `--pty` in-process.
std::optional<SimOptions> ParseSimOptions(
    const std::vector<std::string>& args, std::string& error, SimPlace place = SimPlace::Command);

} // namespace cardmill
