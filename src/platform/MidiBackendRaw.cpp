#include "MidiBackendRaw.h"

#include "RawTerminal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cardmill {

MidiBackendRaw::MidiBackendRaw(std::string devicePath)
    : path(std::move(devicePath))
{
}

MidiBackendRaw::~MidiBackendRaw()
{
    Close();
}

std::vector<std::string> MidiBackendRaw::InputNames() const
{
    return { path };
}

std::vector<std::string> MidiBackendRaw::OutputNames() const
{
    return { path };
}

std::string MidiBackendRaw::NotAPort(const struct stat& status)
{
    if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode))
        return {};
    return std::string("it is not a MIDI port but ")
        + (S_ISDIR(status.st_mode) ? "a folder" : "a file") + " (" + kWhatAPortIs + ")";
}

std::string MidiBackendRaw::WhyNotAPort(const std::string& devicePath)
{
    struct stat status { };
    if (::stat(devicePath.c_str(), &status) != 0)
        return errno == ENOENT ? std::string("it doesn't exist (") + kWhatAPortIs + ")"
                               : std::string(std::strerror(errno));
    return NotAPort(status);
}

bool MidiBackendRaw::OpenDevice()
{
    if (fd >= 0)
        return true;
    lastError.clear();
    // Only a device or a pipe can be a MIDI port: SysEx written into a sound or a project named
    // by mistake would destroy it. Looked at before the open and again on what was opened.
    const auto notAPort = [this](const struct stat& status) {
        lastError = NotAPort(status);
        return !lastError.empty();
    };
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0 && notAPort(status))
        return false;
    const int opened = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        lastError = std::strerror(errno);
        return false;
    }
    if (::fstat(opened, &status) != 0)
        lastError = std::strerror(errno);
    if (!lastError.empty() || notAPort(status)) {
        ::close(opened);
        return false;
    }
    // Two programs writing one card at once would interleave their messages: the device is
    // held for the whole run (a sound card's raw MIDI device refuses a second opening anyway,
    // a pty doesn't).
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
        lastError = errno == EWOULDBLOCK ? "another program is using it" : std::strerror(errno);
        ::close(opened);
        return false;
    }
    // A terminal's line discipline would echo bytes back, turn 0x0D into 0x0A and swallow 0x11
    // and 0x13 as XON / XOFF (0x11 is also the erase opcode), so a pty is made fully raw. Bytes
    // that wait in its input from before the open (a reply meant for a program that used the
    // pty before) would be taken for the answer to this program's first message: they go.
    if (::isatty(opened) && (!MakeTerminalRaw(opened) || ::tcflush(opened, TCIFLUSH) != 0)) {
        lastError = std::strerror(errno);
        ::close(opened);
        return false;
    }
    terminal = ::isatty(opened) != 0;
    fd = opened;
    return true;
}

bool MidiBackendRaw::OpenInput(int index)
{
    if (index != 0)
        return false;
    if (reader.joinable())
        return true;
    if (!OpenDevice())
        return false;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        lastError = std::strerror(errno);
        if (!outputOpen) {
            ::close(fd);
            fd = -1;
        }
        return false;
    }
    stopping = false;
    reader = std::thread([this] { ReadLoop(); });
    return true;
}

bool MidiBackendRaw::OpenOutput(int index)
{
    if (index != 0 || !OpenDevice())
        return false;
    outputOpen = true;
    return true;
}

void MidiBackendRaw::Close()
{
    if (reader.joinable()) {
        stopping = true;
        const char wake = 1;
        [[maybe_unused]] const auto written = ::write(wakeFds[1], &wake, 1);
        reader.join();
    }
    for (int& end : wakeFds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    outputOpen = false;
}

void MidiBackendRaw::ReadLoop()
{
    std::uint8_t buffer[4096];
    while (!stopping) {
        pollfd waits[2] = { { fd, POLLIN, 0 }, { wakeFds[0], POLLIN, 0 } };
        const int ready = ::poll(waits, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents != 0)
            return;
        if (waits[0].revents == 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            std::lock_guard lock(handlerMutex);
            if (inputHandler)
                inputHandler(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // The other end went away (a pty's master closed gives EIO, a device unplugged ENODEV):
        // nothing more will come, and polling on would spin.
        return;
    }
}

bool MidiBackendRaw::Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout)
{
    if (!outputOpen || fd < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < message.size()) {
        const ssize_t put = ::write(fd, message.data() + sent, message.size() - sent);
        if (put > 0) {
            sent += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait { fd, POLLOUT, 0 };
        ::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left.count() + 1, 1000)));
    }
    return true;
}

void MidiBackendRaw::OnInput(std::function<void(std::span<const std::uint8_t>)> handler)
{
    std::lock_guard lock(handlerMutex);
    inputHandler = std::move(handler);
}

std::vector<std::string> MidiBackendRaw::DevicePaths(const std::string& folder)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("midiC"))
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace cardmill
