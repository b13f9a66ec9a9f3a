#pragma once

#include "model/DeviceFamily.h"

namespace cardmill {

/// The System Exclusive protocol with the instrument.
class MZeltaSysexHandler {
public:
    static constexpr MakerId kMakerId = cardmill::kMakerId;
};

} // namespace cardmill
