#include "sim/SimPtyServer.h"

#include "platform/RawTerminal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <span>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace cardmill {

namespace {

constexpr std::uint8_t kSysexEnd = 0xF7;
constexpr std::uint8_t kActiveSensing = 0xFE;
// Input waiting for its emulated arrival beyond this is left in the pty, so that a program
// writing faster than the link carries is held back as a real driver's full buffer would.
constexpr std::size_t kInboundLimit = 64 * 1024;
// Replies nobody reads (no program has the pty open) are dropped beyond this.
constexpr std::size_t kUnwrittenLimit = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

SimPtyServer::SimPtyServer(std::unique_ptr<SimInstrument> instrument, const SimOptions& options)
    : sim(std::move(instrument))
    , timing(options.baud)
    , interface(options.interfaceBuffer, options.loseEvery)
    , activeSensing(options.activeSensingMs)
    , nextSensing(options.activeSensingMs > 0 ? std::chrono::steady_clock::now() + activeSensing
                                              : SimTiming::TimePoint::max())
{
}

SimPtyServer::~SimPtyServer()
{
    CloseIfOpen(opens);
    CloseIfOpen(wake[0]);
    CloseIfOpen(wake[1]);
    CloseIfOpen(slave);
    CloseIfOpen(master);
}

std::unique_ptr<SimPtyServer> SimPtyServer::Create(const SimOptions& options, std::string& error)
{
    auto instrument = SimInstrument::Create(options, error);
    if (!instrument)
        return nullptr;
    std::unique_ptr<SimPtyServer> server(new SimPtyServer(std::move(instrument), options));
    SimPtyServer& s = *server;
    s.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (s.master < 0 || ::grantpt(s.master) != 0 || ::unlockpt(s.master) != 0
        || ::ptsname_r(s.master, name, sizeof name) != 0) {
        error = SystemError("can't create a pseudo-terminal");
        return nullptr;
    }
    s.path = name;
    // The server's own descriptor of the far side keeps the pty alive while programs come and
    // go: without it the master would see a hang-up whenever the last one closed.
    s.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Set through either side, the mode is the far side's: the master's own is raw already.
    if (s.slave < 0 || !MakeTerminalRaw(s.slave)) {
        error = SystemError("can't set up the pseudo-terminal " + s.path);
        return nullptr;
    }
    if (::fcntl(s.master, F_SETFL, O_NONBLOCK) != 0
        || ::pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = SystemError("can't set up the pseudo-terminal " + s.path);
        return nullptr;
    }
    // Programs opening and closing the far side are seen through inotify (the server's own
    // descriptor, opened before, is not counted); without it (its limits reached) programs that
    // flush their input on opening, as the raw MIDI back-end does, are still served right.
    s.opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s.opens >= 0
        && ::inotify_add_watch(s.opens, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseIfOpen(s.opens);
    s.clients = s.opens >= 0 ? 0 : -1;
    return server;
}

void SimPtyServer::Stop()
{
    stopRequested = true;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wake[1], &byte, 1);
}

bool SimPtyServer::Serve(const std::atomic<bool>& stop, std::string& error)
{
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigset_t waiting;
    ::pthread_sigmask(SIG_BLOCK, &held, &waiting);

    bool ok = true;
    while (ok) {
        ok = Advance(std::chrono::steady_clock::now(), error);
        if (!ok || stop || stopRequested)
            break;
        const auto deadline = NextDeadline();
        timespec wait {};
        const timespec* timeout = nullptr;
        if (deadline != SimTiming::TimePoint::max()) {
            const auto left = std::max(
                deadline - std::chrono::steady_clock::now(), SimTiming::Duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &wait;
        }
        short events = 0;
        if (inboundBytes < kInboundLimit)
            events |= POLLIN;
        if (!unwritten.empty())
            events |= POLLOUT;
        pollfd waits[3] = { { master, events, 0 }, { wake[0], POLLIN, 0 }, { opens, POLLIN, 0 } };
        const nfds_t count = opens >= 0 ? 3 : 2;
        // The stop signals get through here only, so one can't slip in between the check of
        // `stop` above and the wait.
        if (::ppoll(waits, count, timeout, &waiting) < 0) {
            if (errno == EINTR)
                continue;
            error = SystemError("waiting on the pseudo-terminal failed");
            ok = false;
            break;
        }
        if (waits[1].revents != 0) {
            char drained[16];
            while (::read(wake[0], drained, sizeof drained) > 0) { }
        }
        // Before the input is read: a program that opened the pty and then wrote must find the
        // replies meant for its predecessor gone, and not lose its own.
        if (count == 3 && (waits[2].revents & POLLIN) != 0)
            TakeOpensAndCloses();
        if ((waits[0].revents & POLLIN) != 0) {
            ok = ReadInput(error);
        } else if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            error = "the pseudo-terminal " + path + " was closed";
            ok = false;
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &waiting, nullptr);

    std::string saveError;
    if (!sim->SaveCard(saveError)) {
        error = ok ? saveError : error + "; " + saveError;
        ok = false;
    }
    return ok;
}

bool SimPtyServer::ReadInput(std::string& error)
{
    readBuffer.resize(kReadChunk);
    const ssize_t got = ::read(master, readBuffer.data(), readBuffer.size());
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (got <= 0) {
        error = got == 0 ? "the pseudo-terminal " + path + " was closed"
                         : SystemError("reading the pseudo-terminal failed");
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::vector<std::uint8_t> passed
        = interface.Pass(std::span(readBuffer).first(static_cast<std::size_t>(got)), now, timing);
    inboundBytes += passed.size();
    const std::span<const std::uint8_t> bytes(passed);
    // Each message reaches the instrument when its own last byte has arrived, not with the
    // bytes read after it.
    auto begin = bytes.begin();
    while (begin != bytes.end()) {
        auto end = timing.Paced() ? std::find(begin, bytes.end(), kSysexEnd) : bytes.end();
        end = end == bytes.end() ? end : end + 1;
        std::vector<std::uint8_t> piece(begin, end);
        const auto due = timing.ToInstrument(piece.size(), now);
        inbound.push_back({ due, std::move(piece) });
        begin = end;
    }
    return true;
}

bool SimPtyServer::Advance(SimTiming::TimePoint now, std::string& error)
{
    VirtualInstrument& instrument = sim->Instrument();
    while (!inbound.empty() && inbound.front().due <= now) {
        const Timed arrived = std::move(inbound.front());
        inbound.pop_front();
        inboundBytes -= arrived.bytes.size();
        std::vector<std::uint8_t> replies = instrument.Receive(arrived.bytes);
        // From the scheduled arrival, not from now: a late wake-up does not delay the reply.
        const auto due
            = timing.FromInstrument(replies.size(), arrived.due, instrument.TakeBusyMs());
        if (!replies.empty())
            outbound.push_back({ due, std::move(replies) });
    }
    while (!outbound.empty() && outbound.front().due <= now) {
        unwritten.insert(
            unwritten.end(), outbound.front().bytes.begin(), outbound.front().bytes.end());
        outbound.pop_front();
    }
    if (now >= nextSensing) {
        nextSensing = now + activeSensing;
        // Nobody would read it while no program has the pty open.
        if (clients != 0)
            unwritten.push_back(kActiveSensing);
    }
    while (!unwritten.empty()) {
        const ssize_t put = ::write(master, unwritten.data(), unwritten.size());
        if (put > 0) {
            unwritten.erase(unwritten.begin(), unwritten.begin() + put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN) {
            error = SystemError("writing to the pseudo-terminal failed");
            return false;
        }
        if (unwritten.size() > kUnwrittenLimit)
            unwritten.clear();
        break;
    }
    if (const std::string trouble = sim->TakeStoreError(); !trouble.empty() && warn)
        warn(trouble + " (the whole card is written again at the end)");
    return true;
}

SimTiming::TimePoint SimPtyServer::NextDeadline() const
{
    auto deadline = nextSensing;
    if (!inbound.empty())
        deadline = std::min(deadline, inbound.front().due);
    if (!outbound.empty())
        deadline = std::min(deadline, outbound.front().due);
    return deadline;
}

void SimPtyServer::TakeOpensAndCloses()
{
    alignas(inotify_event) char notices[4096];
    bool flush = false;
    ssize_t got = 0;
    while ((got = ::read(opens, notices, sizeof notices)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(notices + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                clients = -1; // events were lost: who has the pty open is no longer known
            } else if ((event->mask & IN_OPEN) != 0) {
                clients = clients < 0 ? clients : clients + 1;
                flush = true;
            } else if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0) {
                clients = clients <= 0 ? clients : clients - 1;
                flush = flush || clients == 0;
            }
        }
    }
    if (!flush)
        return;
    // Replies that were for a program that has gone: whatever waits in the pty, and what is
    // still on its way.
    ::tcflush(slave, TCIFLUSH);
    outbound.clear();
    unwritten.clear();
    // A program that left the pty in another mode (a terminal emulator) doesn't spoil the next.
    MakeTerminalRaw(slave);
}

} // namespace cardmill
