#pragma once

#include "model/MCardmill.h"

#include <memory>

namespace cardmill {

class MCompileEngine;
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

private:
    Prompter& prompter;
    std::unique_ptr<MCompileEngine> compileEngine;
};

} // namespace cardmill
