#pragma once

#include "model/MReadableFile.h"

#include <memory>

namespace cardmill::test {

/// A readable file of a given category and compiled size, for the project's accounting. Its size
/// step takes `steps` calls to finish; `restarts` counts the calls told to start afresh.
class FakeFile : public MReadableFile {
public:
    FakeFile(Services& services, std::int16_t fileCategory, std::uint32_t size, int sizeSteps = 1,
        int* destroyed = nullptr)
        : MReadableFile(services)
        , steps(sizeSteps)
        , destroyedCounter(destroyed)
    {
        category = fileCategory;
        compiledSize = size;
    }
    ~FakeFile() override
    {
        if (destroyedCounter)
            ++*destroyedCounter;
    }

    bool UpdateCompiledSizeStep(bool restart) override
    {
        if (restart) {
            ++restarts;
            done = 0;
        }
        return ++done >= steps;
    }
    void SetSize(std::uint32_t size) { compiledSize = size; }
    void SetCategory(std::int16_t group) override { category = group; }
    /// A copy that counts its destruction on the same counter.
    std::unique_ptr<MReadableFile> Duplicate() const override
    {
        auto copy
            = std::make_unique<FakeFile>(services, category, compiledSize, steps, destroyedCounter);
        copy->SetShortName(GetShortName());
        return copy;
    }

    int restarts = 0;

private:
    int steps;
    int done = 0;
    int* destroyedCounter;
};

} // namespace cardmill::test
