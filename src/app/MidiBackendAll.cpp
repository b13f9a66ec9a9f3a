#include "app/MidiBackendAll.h"

#include "platform/MidiBackendAlsa.h"
#include "platform/MidiBackendRaw.h"
#include "sim/MidiBackendSim.h"

#include <algorithm>

namespace cardmill {

namespace {

// A sequencer port listed when the application started that the sequencer no longer has.
constexpr const char* kGone = "it is no longer there (unplugged, or its program ended)";

} // namespace

MidiBackendAll::MidiBackendAll(std::vector<std::string> extraPaths, SimOptions options)
    : simOptions(std::move(options))
{
    auto alsa = std::make_unique<MidiBackendAlsa>();
    // One list for both directions: the sequencer's inputs and outputs are mostly the same
    // devices, and AMidi finds a stored name in either list.
    names = alsa->InputNames();
    for (const std::string& name : alsa->OutputNames())
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    sequencerCount = names.size();
    sequencer = std::move(alsa);
    devicePaths = MidiBackendRaw::DevicePaths();
    devices.resize(devicePaths.size());
    names.insert(names.end(), devicePaths.begin(), devicePaths.end());
    names.emplace_back(MidiBackendSim::kPortName);
    for (const std::string& path : extraPaths)
        Offer(path);
}

bool MidiBackendAll::Offer(const std::string& path)
{
    if (path.find('/') == std::string::npos
        || std::find(devicePaths.begin(), devicePaths.end(), path) != devicePaths.end())
        return false;
    // Among the devices, before the virtual instrument, which stays last.
    names.insert(
        names.begin() + static_cast<std::ptrdiff_t>(sequencerCount + devicePaths.size()), path);
    devicePaths.push_back(path);
    devices.emplace_back();
    return true;
}

MidiBackendAll::~MidiBackendAll()
{
    Close();
}

MidiBackendAll::Port MidiBackendAll::Resolve(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= names.size())
        return { nullptr, -1 };
    const auto at = static_cast<std::size_t>(index);
    if (at < sequencerCount) {
        // The sequencer lists inputs and outputs apart: find the name on the side asked for.
        return { sequencer.get(), index };
    }
    if (at < sequencerCount + devicePaths.size()) {
        const std::size_t device = at - sequencerCount;
        if (!devices[device])
            devices[device] = std::make_unique<MidiBackendRaw>(devicePaths[device]);
        return { devices[device].get(), 0 };
    }
    if (!simBackend) {
        simBackend = MidiBackendSim::Create(simOptions, lastError);
        sim = simBackend.get();
    }
    return { simBackend.get(), 0 };
}

bool MidiBackendAll::OpenInput(int index)
{
    lastError.clear();
    Port port = Resolve(index);
    if (!port.backend)
        return false;
    if (port.backend == sequencer.get()) {
        const auto inputs = sequencer->InputNames();
        const auto it
            = std::find(inputs.begin(), inputs.end(), names[static_cast<std::size_t>(index)]);
        if (it == inputs.end()) {
            lastError = kGone;
            return false;
        }
        port.index = static_cast<int>(it - inputs.begin());
    }
    port.backend->OnInput([this](std::span<const std::uint8_t> bytes) {
        if (handler)
            handler(bytes);
    });
    if (!port.backend->OpenInput(port.index)) {
        lastError = port.backend->LastError();
        return false;
    }
    input = port.backend;
    return true;
}

bool MidiBackendAll::OpenOutput(int index)
{
    lastError.clear();
    Port port = Resolve(index);
    if (!port.backend)
        return false;
    if (port.backend == sequencer.get()) {
        const auto outputs = sequencer->OutputNames();
        const auto it
            = std::find(outputs.begin(), outputs.end(), names[static_cast<std::size_t>(index)]);
        if (it == outputs.end()) {
            lastError = kGone;
            return false;
        }
        port.index = static_cast<int>(it - outputs.begin());
    }
    if (!port.backend->OpenOutput(port.index)) {
        lastError = port.backend->LastError();
        return false;
    }
    output = port.backend;
    return true;
}

void MidiBackendAll::Close()
{
    for (MidiBackend* backend : { input, output })
        if (backend) {
            backend->Close();
            backend->OnInput(nullptr);
        }
    input = output = nullptr;
}

bool MidiBackendAll::Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout)
{
    return output && output->Send(message, timeout);
}

void MidiBackendAll::OnInput(std::function<void(std::span<const std::uint8_t>)> inputHandler)
{
    // Set before a side opens, and cleared after both are closed: the back-ends' threads are
    // stopped by then, so nothing reads it while it changes.
    handler = std::move(inputHandler);
}

} // namespace cardmill
