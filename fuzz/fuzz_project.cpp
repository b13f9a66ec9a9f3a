// Fuzz target: the project-file reader (every sound file it names is found in memory), then a
// bounded compile of what it loaded, so fuzzed sample settings go through the card image too.

#include "FuzzEnv.h"
#include "compiler/MCompileEngine.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/PendingFilesQueue.h"
#include "model/project/MProjectFile.h"
#include "platform/ProgressView.h"
#include "synth/LinkSingletons.h"

namespace {

using namespace cardmill;

struct NoWindow final : DocumentUi {
    void ResetView() override { }
    void SelectGroup(int) override { }
    void SetTitle(const std::string&) override { }
    std::optional<std::string> ChooseProjectToOpen() override { return std::nullopt; }
    std::optional<SaveChoice> ChooseSaveAs(const std::string&) override { return std::nullopt; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ScriptedPrompter prompter { {}, Answer::Ok };
    ManualClock clock;
    MemorySettingsStore settings;
    NoWindow ui;
    PendingFilesQueue pending;
    LinkSingletons link(prompter);
    MCardmill controller(Platform { prompter, clock, settings }, ui, pending);
    if (!controller.Startup(&link))
        return 0;
    Services& services = controller.GetServices();
    fuzz::MemoryLocator locator(services);
    services.locator = &locator;

    MProjectFile file(services);
    file.AttachMemory(fuzz::Copy(data, size));
    if (file.OpenProjectFile("fuzz.cmr")) {
        for (int steps = 0; steps < 100000 && file.LoadStep() == 0; ++steps) { }
        MProject& project = controller.Project();
        project.ComputeTotalBytes();
        MCompileEngine& engine = link.CompileEngine();
        NullProgressView progress;
        if (engine.Begin()) {
            for (int steps = 0; steps < 3000 && !engine.IsFinished(); ++steps)
                if (engine.Step(progress) < 0)
                    break;
            engine.End();
        }
    }
    services.locator = nullptr;
    return 0;
}
