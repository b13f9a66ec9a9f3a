#pragma once

#include "Clock.h"

#include <chrono>

namespace cardmill {

/// A long operation cut into steps. It does not know who drives it.
class SteppedOperation {
public:
    virtual ~SteppedOperation() = default;
    /// One bounded piece of work; false once the operation has finished.
    virtual bool Step() = 0;
    /// True while the operation only waits (for MIDI input or a deadline): the runner then
    /// pauses until the next tick instead of calling again at once.
    virtual bool Waiting() const { return false; }
};

/// Drives an operation to its end: again at once while it makes progress, so throughput is
/// bounded by the disk or the instrument, never by the tick; a 100 ms tick only while it waits.
inline void RunSteps(SteppedOperation& operation, Clock& clock)
{
    while (operation.Step()) {
        if (operation.Waiting())
            clock.Sleep(std::chrono::milliseconds(100));
    }
}

} // namespace cardmill
