#include "MidiBackendAlsa.h"

#include <RtMidi.h>
#include <cctype>
#include <filesystem>

namespace cardmill {

namespace {

std::vector<std::string> PortNames(RtMidi* api)
{
    std::vector<std::string> names;
    if (!api)
        return names;
    try {
        const unsigned count = api->getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(MidiBackendAlsa::StablePortName(api->getPortName(i)));
    } catch (const RtMidiError&) {
        names.clear();
    }
    return names;
}

} // namespace

struct MidiBackendAlsa::Callbacks {
    static void Failed(RtMidiError::Type type, const std::string&, void* self)
    {
        if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
            static_cast<MidiBackendAlsa*>(self)->failed = true;
    }

    static void Received(double, std::vector<unsigned char>* message, void* self)
    {
        auto* backend = static_cast<MidiBackendAlsa*>(self);
        std::lock_guard lock(backend->handlerMutex);
        if (backend->inputHandler && message)
            backend->inputHandler(std::span<const std::uint8_t>(message->data(), message->size()));
    }
};

MidiBackendAlsa::MidiBackendAlsa(std::string clientName, std::string sequencerDevice)
{
    // Without the device, asking ALSA would only print its own complaint before failing.
    std::error_code missing;
    if (!std::filesystem::exists(sequencerDevice, missing)) {
        error = kNoSequencerMessage;
        return;
    }
    try {
        in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName);
        out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
        // With a callback RtMidi reports later errors there instead of printing them and throwing,
        // possibly from its own thread.
        in->setErrorCallback(&Callbacks::Failed, this);
        out->setErrorCallback(&Callbacks::Failed, this);
        // SysEx is what the instrument speaks; timing and active sensing are noise here.
        in->ignoreTypes(false, true, true);
        in->setCallback(&Callbacks::Received, this);
    } catch (const RtMidiError&) {
        in.reset();
        out.reset();
        error = kNoSequencerMessage;
    }
}

MidiBackendAlsa::~MidiBackendAlsa()
{
    // RtMidi's thread may be inside Received until the input object is gone, and Received uses
    // the members declared after it.
    in.reset();
    out.reset();
}

std::vector<std::string> MidiBackendAlsa::InputNames() const
{
    return PortNames(in.get());
}

std::vector<std::string> MidiBackendAlsa::OutputNames() const
{
    return PortNames(out.get());
}

bool MidiBackendAlsa::OpenInput(int index)
{
    if (!in || index < 0 || static_cast<unsigned>(index) >= in->getPortCount())
        return false;
    try {
        in->closePort();
        failed = false;
        in->openPort(static_cast<unsigned>(index), "Cardmill In");
    } catch (const RtMidiError&) {
        return false;
    }
    return !failed && in->isPortOpen();
}

bool MidiBackendAlsa::OpenOutput(int index)
{
    if (!out || index < 0 || static_cast<unsigned>(index) >= out->getPortCount())
        return false;
    try {
        out->closePort();
        failed = false;
        out->openPort(static_cast<unsigned>(index), "Cardmill Out");
    } catch (const RtMidiError&) {
        return false;
    }
    return !failed && out->isPortOpen();
}

void MidiBackendAlsa::Close()
{
    if (in)
        in->closePort();
    if (out)
        out->closePort();
}

bool MidiBackendAlsa::Send(std::span<const std::uint8_t> message, std::chrono::milliseconds)
{
    // The sequencer takes the whole message into its own queue at once; there is nothing to
    // wait for beyond the call.
    if (!out || !out->isPortOpen())
        return false;
    failed = false;
    try {
        out->sendMessage(message.data(), message.size());
    } catch (const RtMidiError&) {
        return false;
    }
    return !failed;
}

void MidiBackendAlsa::OnInput(std::function<void(std::span<const std::uint8_t>)> handler)
{
    std::lock_guard lock(handlerMutex);
    inputHandler = std::move(handler);
}

std::string MidiBackendAlsa::StablePortName(std::string_view name)
{
    // RtMidi's ALSA names end in " CLIENT:PORT", both decimal.
    const auto blank = name.rfind(' ');
    if (blank == std::string_view::npos)
        return std::string(name);
    const std::string_view tail = name.substr(blank + 1);
    const auto colon = tail.find(':');
    const auto digits = [](std::string_view s) {
        if (s.empty())
            return false;
        for (const char c : s)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
        return true;
    };
    if (colon == std::string_view::npos || !digits(tail.substr(0, colon))
        || !digits(tail.substr(colon + 1)))
        return std::string(name);
    return std::string(name.substr(0, blank));
}

} // namespace cardmill
