#pragma once

#include "sim/SimInstrument.h"
#include "sim/SimOptions.h"
#include "sim/SimTiming.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cardmill {

/// The virtual instrument at the far end of a pseudo-terminal, for programs that open the pty's
/// path as a raw MIDI device. Bytes read from the pty reach the instrument once they would have
/// arrived over the emulated link; its replies are written back after the time it is busy and
/// their own wire time. The server keeps the pty's other side open itself, so programs may come
/// and go: when the last one closes it, and when one opens it, replies left unread are thrown
/// away, and replies with nobody to read them are not written. Active Sensing, when asked for,
/// goes out between replies while a program has the pty open. A card with a file is written
/// through as it changes and flushed when serving ends. Serve() runs on one thread; Stop() may be
/// called from any.
class SimPtyServer {
public:
    /// Nothing, with `error` set, when the pty can't be made or the instrument's files can't be
    /// used (see SimInstrument).
    static std::unique_ptr<SimPtyServer> Create(const SimOptions& options, std::string& error);
    ~SimPtyServer();
    SimPtyServer(const SimPtyServer&) = delete;
    SimPtyServer& operator=(const SimPtyServer&) = delete;

    /// The path programs open: /dev/pts/N.
    const std::string& Path() const { return path; }
    /// Told of trouble that doesn't stop the serving (a change the card's file couldn't take).
    void OnWarning(std::function<void(const std::string&)> sink) { warn = std::move(sink); }

    /// Serves until `stop` is raised or Stop() is called, then saves the card; false with `error`
    /// set when the pty failed or the card couldn't be saved. SIGINT and SIGTERM are held back
    /// while the server works and let through only while it waits, so a handler that raises
    /// `stop` ends the wait at once.
    bool Serve(const std::atomic<bool>& stop, std::string& error);
    /// Makes Serve() return soon; safe from a signal handler.
    void Stop();

private:
    struct Timed {
        SimTiming::TimePoint due;
        std::vector<std::uint8_t> bytes;
    };

    SimPtyServer(std::unique_ptr<SimInstrument> instrument, const SimOptions& options);
    /// Hands the instrument what has arrived by `now` and writes the replies that are due.
    bool Advance(SimTiming::TimePoint now, std::string& error);
    bool ReadInput(std::string& error);
    /// Counts the programs that opened and closed the pty, and throws away the replies left
    /// for one that has gone.
    void TakeOpensAndCloses();
    SimTiming::TimePoint NextDeadline() const;

    std::unique_ptr<SimInstrument> sim;
    SimTiming timing;
    LossyInterface interface;
    std::string path;
    int master = -1;
    int slave = -1;
    int opens = -1; // inotify descriptor watching the pty's opens and closes, or -1
    int clients = -1; // programs that have the pty open, or -1 when that is not known
    int wake[2] = { -1, -1 };
    std::atomic<bool> stopRequested { false };
    std::chrono::milliseconds activeSensing; // 0: none
    SimTiming::TimePoint nextSensing;
    std::function<void(const std::string&)> warn;

    std::vector<std::uint8_t> readBuffer;
    std::deque<Timed> inbound; // on the wire to the instrument, in the order of `due`
    std::size_t inboundBytes = 0;
    std::deque<Timed> outbound; // replies on the wire back, in the order of `due`
    std::vector<std::uint8_t> unwritten; // replies due that the pty couldn't take yet
};

} // namespace cardmill
