#include "synth/LinkSingletons.h"

#include "compiler/MCompileEngine.h"

#include <new>

namespace cardmill {

LinkSingletons::LinkSingletons(Prompter& prompterService)
    : prompter(prompterService)
{
}

LinkSingletons::~LinkSingletons() = default;

bool LinkSingletons::Create(MCardmill& controller)
{
    try {
        compileEngine = std::make_unique<MCompileEngine>(controller.Project(), prompter);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void LinkSingletons::Destroy()
{
    compileEngine.reset();
}

} // namespace cardmill
