#pragma once

#include "model/MCardmill.h"

#include <memory>

namespace cardmill {

class AMidi;
class Clock;
class MCompileEngine;
class MZeltaSysexHandler;
class MidiBackend;
class Prompter;

/// The long-lived objects of the compiler and of the link to the instrument, which the controller
/// creates at start-up (after the project they work on) and destroys before the project.
class LinkSingletons final : public UpperSingletons {
public:
    explicit LinkSingletons(Prompter& prompterService);
    ~LinkSingletons() override;
    LinkSingletons(const LinkSingletons&) = delete;
    LinkSingletons& operator=(const LinkSingletons&) = delete;

    bool Create(MCardmill& controller) override;
    void Destroy() override;

    MCompileEngine& CompileEngine() const { return *compileEngine; }

    /// The desktop application's MIDI ports: with a back-end given before the controller starts,
    /// the port layer is created with the singletons and opens the ports stored in the
    /// preferences (the command line opens the ports each command names instead).
    void UseMidi(std::unique_ptr<MidiBackend> backend, Clock& clock);
    AMidi* Midi() const { return midi.get(); }
    MidiBackend* Backend() const { return midiBackend.get(); }
    MZeltaSysexHandler* SysexHandler() const { return sysexHandler.get(); }

private:
    Prompter& prompter;
    std::unique_ptr<MCompileEngine> compileEngine;
    Clock* midiClock = nullptr;
    std::unique_ptr<MidiBackend> midiBackend;
    std::unique_ptr<AMidi> midi;
    std::unique_ptr<MZeltaSysexHandler> sysexHandler;
};

} // namespace cardmill
