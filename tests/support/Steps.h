#pragma once

#include <gtest/gtest.h>

namespace cardmill::test {

/// Steps allowed before a step machine counts as stuck: far more than any test input needs.
constexpr int kStepLimit = 100000;

/// Calls `step` until it answers other than 0 (1 finished, -1 failed, as LoadStep does) and
/// returns that answer. A machine still going after `limit` steps fails the test, which goes on
/// with the answer 0, instead of hanging it.
template <typename Step> int StepUntilDone(Step&& step, int limit = kStepLimit)
{
    for (int count = 0; count < limit; ++count)
        if (const int result = step(); result != 0)
            return result;
    ADD_FAILURE() << "the step machine did not finish within " << limit << " steps";
    return 0;
}

/// A file's LoadStep run to its end, within the step limit.
template <typename File> int LoadFully(File& file, int limit = kStepLimit)
{
    return StepUntilDone([&] { return file.LoadStep(); }, limit);
}

} // namespace cardmill::test
