#include "synth/LinkSingletons.h"

#include "compiler/MCompileEngine.h"
#include "model/APrefs.h"
#include "model/Services.h"
#include "platform/MidiBackend.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <new>

namespace cardmill {

LinkSingletons::LinkSingletons(Prompter& prompterService)
    : prompter(prompterService)
{
}

LinkSingletons::~LinkSingletons() = default;

void LinkSingletons::UseMidi(std::unique_ptr<MidiBackend> backend, Clock& clock)
{
    midiBackend = std::move(backend);
    midiClock = &clock;
}

bool LinkSingletons::Create(MCardmill& controller)
{
    try {
        if (midiBackend) {
            midi = std::make_unique<AMidi>(*midiBackend, *midiClock);
            APrefs& prefs = controller.Prefs();
            if (!midi->StartUp(prefs.midiInputPort, prefs.midiOutputPort))
                prompter.Show(AMidi::kStartupFailedMessage, Icon::Exclamation, Buttons::Ok);
        }
        sysexHandler = std::make_unique<MZeltaSysexHandler>(controller.GetServices().makerId);
        compileEngine = std::make_unique<MCompileEngine>(controller.Project(), prompter);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void LinkSingletons::Destroy()
{
    compileEngine.reset();
    sysexHandler.reset();
    midi.reset();
}

} // namespace cardmill
