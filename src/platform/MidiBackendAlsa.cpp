#include "MidiBackendAlsa.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <cctype>
#include <charconv>
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

struct MidiBackendAlsa::Writer {
    snd_seq_t* seq = nullptr;
    int port = -1;

    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer()
    {
        if (seq)
            snd_seq_close(seq);
    }

    bool Open(const std::string& clientName, int destinationClient, int destinationPort)
    {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
            seq = nullptr;
            return false;
        }
        snd_seq_set_client_name(seq, clientName.c_str());
        port = snd_seq_create_simple_port(seq, "Cardmill Out",
            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        return port >= 0 && snd_seq_connect_to(seq, port, destinationClient, destinationPort) >= 0;
    }

    bool Write(std::span<const std::uint8_t> bytes)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        // A variable-length event carries its bytes as they are: a piece of a SysEx, F0 only
        // in the first and F7 only in the last, reaches the port as the same bytes in order.
        snd_seq_ev_set_sysex(
            &event, static_cast<unsigned>(bytes.size()), const_cast<std::uint8_t*>(bytes.data()));
        return snd_seq_event_output_direct(seq, &event) >= 0;
    }
};

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
    : client(clientName)
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
    writer.reset();
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
    writer.reset();
    if (!out || index < 0 || static_cast<unsigned>(index) >= out->getPortCount())
        return false;
    std::optional<std::pair<int, int>> address;
    try {
        address = PortAddress(out->getPortName(static_cast<unsigned>(index)));
    } catch (const RtMidiError&) {
        return false;
    }
    if (!address)
        return false;
    auto opened = std::make_unique<Writer>();
    if (!opened->Open(client, address->first, address->second))
        return false;
    writer = std::move(opened);
    return true;
}

void MidiBackendAlsa::Close()
{
    if (in)
        in->closePort();
    writer.reset();
}

bool MidiBackendAlsa::Send(std::span<const std::uint8_t> message, std::chrono::milliseconds)
{
    // The sequencer takes the event into its own queue at once; there is nothing to wait for
    // beyond the call.
    return writer && !message.empty() && writer->Write(message);
}

void MidiBackendAlsa::OnInput(std::function<void(std::span<const std::uint8_t>)> handler)
{
    std::lock_guard lock(handlerMutex);
    inputHandler = std::move(handler);
}

std::optional<std::pair<int, int>> MidiBackendAlsa::PortAddress(std::string_view name)
{
    const std::string stable = StablePortName(name);
    if (stable.size() == name.size())
        return std::nullopt;
    const std::string_view tail = name.substr(stable.size() + 1);
    const auto colon = tail.find(':');
    const auto number = [](std::string_view digits) -> std::optional<int> {
        int value = 0;
        const auto [end, status]
            = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (status != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    };
    const auto clientNumber = number(tail.substr(0, colon));
    const auto portNumber = number(tail.substr(colon + 1));
    if (!clientNumber || !portNumber)
        return std::nullopt;
    return std::pair { *clientNumber, *portNumber };
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
