#include "sim/MidiBackendSim.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::uint8_t kActiveSensing = 0xFE;

} // namespace

std::unique_ptr<MidiBackendSim> MidiBackendSim::Create(
    const SimOptions& options, std::string& error)
{
    auto instrument = SimInstrument::Create(options, error);
    if (!instrument)
        return nullptr;
    return std::unique_ptr<MidiBackendSim>(new MidiBackendSim(std::move(instrument), options));
}

MidiBackendSim::MidiBackendSim(std::unique_ptr<SimInstrument> instrument, const SimOptions& options)
    : sim(std::move(instrument))
    , timing(options.baud)
    , interface(options.interfaceBuffer, options.loseEvery)
    , activeSensing(options.activeSensingMs)
{
}

MidiBackendSim::~MidiBackendSim()
{
    Close();
    std::string ignored; // nobody is left to tell; SaveCard() is the way to learn of a failure
    SaveCard(ignored);
}

bool MidiBackendSim::OpenInput(int index)
{
    if (index != 0)
        return false;
    if (!deliverer.joinable()) {
        {
            std::lock_guard lock(queueMutex);
            stopping = false;
            delivering = true;
        }
        deliverer = std::thread([this] { DeliveryLoop(); });
    }
    return true;
}

bool MidiBackendSim::OpenOutput(int index)
{
    if (index != 0)
        return false;
    outputOpen = true;
    return true;
}

void MidiBackendSim::Close()
{
    outputOpen = false;
    if (!deliverer.joinable())
        return;
    {
        std::lock_guard lock(queueMutex);
        stopping = true;
        delivering = false;
    }
    queueChanged.notify_all();
    deliverer.join();
    // Replies still on their way are lost, as they are when a real port closes.
    std::lock_guard lock(queueMutex);
    queue.clear();
}

bool MidiBackendSim::Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout)
{
    if (!outputOpen)
        return false;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> passed;
    std::span<const std::uint8_t> leaving = message;
    SimTiming::TimePoint arrived;
    {
        std::lock_guard lock(instrumentMutex);
        // What the interface loses, the program never learns of.
        passed = interface.Pass(message, start, timing);
        // A driver that gives up has let out what the wire took by then.
        leaving = std::span<const std::uint8_t>(passed).first(
            std::min(passed.size(), timing.BytesWithin(timeout)));
        arrived = timing.ToInstrument(leaving.size(), start);
    }
    if (timing.Paced())
        std::this_thread::sleep_until(arrived);

    std::vector<std::uint8_t> replies;
    SimTiming::TimePoint due;
    {
        std::lock_guard lock(instrumentMutex);
        VirtualInstrument& instrument = sim->Instrument();
        replies = instrument.Receive(leaving);
        due = timing.FromInstrument(replies.size(), arrived, instrument.TakeBusyMs());
    }
    if (!replies.empty()) {
        {
            std::lock_guard lock(queueMutex);
            // Nobody listens without an open input: the replies are lost.
            if (delivering)
                queue.push_back({ due, std::move(replies) });
        }
        queueChanged.notify_all();
    }
    return leaving.size() == passed.size();
}

void MidiBackendSim::DeliveryLoop()
{
    const auto never = SimTiming::TimePoint::max();
    auto nextSensing
        = activeSensing.count() > 0 ? std::chrono::steady_clock::now() + activeSensing : never;
    std::unique_lock lock(queueMutex);
    while (!stopping) {
        const auto now = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> bytes;
        if (now >= nextSensing) {
            bytes = { kActiveSensing };
            nextSensing = now + activeSensing;
        } else if (!queue.empty() && now >= queue.front().due) {
            bytes = std::move(queue.front().bytes);
            queue.pop_front();
        } else {
            // A wait to the exact time: the reply is due then, not at the next poll.
            const auto wake
                = queue.empty() ? nextSensing : std::min(queue.front().due, nextSensing);
            if (wake == never)
                queueChanged.wait(lock);
            else
                queueChanged.wait_until(lock, wake);
            continue;
        }
        lock.unlock();
        {
            std::lock_guard handlerLock(handlerMutex);
            if (inputHandler)
                inputHandler(bytes);
        }
        lock.lock();
    }
}

void MidiBackendSim::OnInput(std::function<void(std::span<const std::uint8_t>)> handler)
{
    std::lock_guard lock(handlerMutex);
    inputHandler = std::move(handler);
}

bool MidiBackendSim::SaveCard(std::string& error)
{
    std::lock_guard lock(instrumentMutex);
    return sim->SaveCard(error);
}

std::vector<std::uint8_t> MidiBackendSim::Card() const
{
    std::lock_guard lock(instrumentMutex);
    const auto card = sim->Instrument().Card();
    return { card.begin(), card.end() };
}

} // namespace cardmill
