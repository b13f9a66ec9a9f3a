#include "AMidi.h"

#include "synth/LinkPace.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::uint8_t kFirstRealTime = 0xF8;

std::string NameAt(const std::vector<std::string>& names, std::uint16_t index)
{
    return index < names.size() ? names[index] : std::string();
}

} // namespace

AMidi::AMidi(MidiBackend& midiBackend, Clock& clockService, std::chrono::microseconds wait)
    : backend(midiBackend)
    , clock(clockService)
    , inputWait(wait)
{
    receiveBuffer.reserve(kReceiveBufferSize);
    backend.OnInput([this](std::span<const std::uint8_t> bytes) { Receive(bytes); });
    instance = this;
}

AMidi::~AMidi()
{
    Close();
    backend.OnInput(nullptr);
    if (instance == this)
        instance = nullptr;
}

void AMidi::Receive(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(receiveMutex);
    if (!receiving)
        return;
    bool any = false;
    for (const std::uint8_t byte : bytes) {
        if (byte >= kFirstRealTime)
            continue;
        // Like the driver's buffer: what doesn't fit is lost, and the reader sees it full.
        if (receiveBuffer.size() >= kReceiveBufferSize)
            break;
        receiveBuffer.push_back(byte);
        any = true;
    }
    if (any)
        received.notify_all();
}

int AMidi::FindPort(const std::vector<std::string>& names, std::string& preferredName)
{
    for (std::size_t i = names.size(); i-- > 0;)
        if (names[i] == preferredName)
            return static_cast<int>(i);
    preferredName = names.front();
    return 0;
}

bool AMidi::StartUp(std::string& preferredInputName, std::string& preferredOutputName)
{
    const auto inputs = backend.InputNames();
    if (inputs.empty())
        return false;
    preferredInputIndex = static_cast<std::uint16_t>(FindPort(inputs, preferredInputName));
    const auto outputs = backend.OutputNames();
    if (outputs.empty())
        return false;
    preferredOutputIndex = static_cast<std::uint16_t>(FindPort(outputs, preferredOutputName));
    OpenPreferred();
    return true;
}

std::string AMidi::PreferredInputName() const
{
    return NameAt(backend.InputNames(), preferredInputIndex);
}

std::string AMidi::PreferredOutputName() const
{
    return NameAt(backend.OutputNames(), preferredOutputIndex);
}

std::string AMidi::OutputName() const
{
    return outputId < 0 ? std::string()
                        : NameAt(backend.OutputNames(), static_cast<std::uint16_t>(outputId));
}

int AMidi::OpenPreferred()
{
    const bool hasInput = !backend.InputNames().empty();
    const bool hasOutput = !backend.OutputNames().empty();
    if (!hasInput && !hasOutput)
        return kNoDevices;
    // An index that was never chosen (0xFFFF) names no device, so that side fails to open.
    const int code = OpenDevices(preferredInputIndex, preferredOutputIndex);
    if (code != kOpened)
        return code;
    if (!hasInput)
        return kNoInputDevice;
    if (!hasOutput)
        return kNoOutputDevice;
    return kOpened;
}

int AMidi::OpenDevices(int inputIndex, int outputIndex)
{
    // Opening over open ports would leave the old ones open behind the new ids.
    Close();
    openFailure.clear();
    if (outputIndex >= 0) {
        outputId = outputIndex;
        if (!backend.OpenOutput(outputIndex)) {
            outputId = -1;
            Failed(backend.OutputNames(), outputIndex);
            return kOutputFailed;
        }
    }
    if (inputIndex < 0)
        return kOpened;
    inputId = inputIndex;
    if (!backend.OpenInput(inputIndex)) {
        inputId = -1;
        Failed(backend.InputNames(), inputIndex);
        return kInputFailed;
    }
    RestartReception();
    return kOpened;
}

void AMidi::Failed(const std::vector<std::string>& names, int index)
{
    const std::string why = backend.LastError();
    if (index < 0 || static_cast<std::size_t>(index) >= names.size() || why.empty())
        return;
    openFailure
        = "the MIDI port '" + names[static_cast<std::size_t>(index)] + "' can't be opened: " + why;
}

void AMidi::Close()
{
    if (inputId < 0 && outputId < 0)
        return;
    // The back-end's Close() returns only when its thread no longer delivers input.
    backend.Close();
    std::lock_guard lock(receiveMutex);
    receiving = false;
    receiveBuffer.clear();
    inputId = -1;
    outputId = -1;
}

int AMidi::SendSysex(std::span<const std::uint8_t> message)
{
    if (outputId < 0)
        return kNoOutputDevice;
    if (message.empty())
        return kSendFailed;
    const auto wait = std::chrono::milliseconds(kSendWaitMs);
    const std::size_t piece = LinkPace::PieceBytes(pace);
    if (message.size() <= piece)
        return backend.Send(message, wait) ? kSent : kSendTimedOut;
    // Each piece leaves once the pace has carried the bytes before it, counted from a start and
    // rounded up, so that sleeping a little long doesn't slow the whole message. The link never
    // gets bytes faster than the pace, which is what an interface's small buffer needs: after a
    // wake-up late by more than a tick (a busy machine), the count starts again from then rather
    // than catching up with the pieces overdue in one burst, which that buffer would lose.
    std::uint32_t start = clock.TickCount();
    std::uint64_t counted = 0;
    for (std::size_t at = 0; at < message.size(); at += piece) {
        const std::uint64_t dueMs = (counted * 1000 + pace - 1) / pace;
        const auto elapsed = static_cast<std::uint32_t>(clock.TickCount() - start);
        if (dueMs > elapsed) {
            clock.Sleep(std::chrono::milliseconds(dueMs - elapsed));
        } else if (elapsed > dueMs + 1) {
            start = clock.TickCount();
            counted = 0;
        }
        const std::size_t bytes = std::min(piece, message.size() - at);
        if (!backend.Send(message.subspan(at, bytes), wait))
            return kSendTimedOut;
        counted += bytes;
    }
    return kSent;
}

int AMidi::ReceiveSysex(std::span<std::uint8_t> destination, std::uint8_t startByte,
    std::uint8_t endByte, std::size_t& count)
{
    count = 0;
    if (inputId < 0)
        return kNoInput;
    int result = -1;
    bool started = false;
    std::size_t readPosition = 0;
    // Bytes before the start byte are strays, taken out with the message; a message begun but
    // not finished stays where it is for the next read.
    std::size_t strays = 0;
    std::uint32_t lastByteTick = clock.TickCount();
    while (result < 0) {
        std::size_t recorded = 0;
        std::uint8_t byte = 0;
        {
            std::unique_lock lock(receiveMutex);
            // Waking as soon as the back-end brings a byte keeps a reply's latency below the
            // clock's tick, which would otherwise bound a fast link's throughput.
            if (readPosition >= receiveBuffer.size() && receiveBuffer.size() < kReceiveBufferSize
                && inputWait.count() > 0)
                received.wait_for(
                    lock, inputWait, [&] { return readPosition < receiveBuffer.size(); });
            recorded = receiveBuffer.size();
            if (readPosition < recorded)
                byte = receiveBuffer[readPosition];
        }
        if (readPosition < recorded) {
            ++readPosition;
            if (started || byte == startByte || startByte == kAnyByte) {
                // Only the bytes of a message keep the wait for its end going: a device that
                // chatters between messages can't hold a reader for ever.
                if (!started)
                    lastByteTick = clock.TickCount();
                started = true;
                if (count < destination.size()) {
                    destination[count++] = byte;
                    lastByteTick = clock.TickCount();
                } else {
                    result = kOverflow;
                }
            } else {
                strays = readPosition;
            }
            if (endByte != kAnyByte && byte == endByte) {
                if (result < 0)
                    result = kEndSeen;
                break;
            }
        } else if (recorded >= kReceiveBufferSize) {
            result = kOverflow;
        } else if (static_cast<std::uint32_t>(clock.TickCount() - lastByteTick)
            > kReceiveSilenceMs) {
            result = kSilence;
        } else {
            clock.Sleep(std::chrono::milliseconds(1));
        }
    }
    const bool whole = result != kSilence || startByte == kAnyByte;
    std::lock_guard lock(receiveMutex);
    const std::size_t taken = std::min(whole ? readPosition : strays, receiveBuffer.size());
    receiveBuffer.erase(
        receiveBuffer.begin(), receiveBuffer.begin() + static_cast<std::ptrdiff_t>(taken));
    return result;
}

bool AMidi::HasInput() const
{
    std::lock_guard lock(receiveMutex);
    return !receiveBuffer.empty();
}

void AMidi::RestartReception()
{
    if (inputId < 0)
        return;
    std::lock_guard lock(receiveMutex);
    receiveBuffer.clear();
    receiving = true;
}

} // namespace cardmill
