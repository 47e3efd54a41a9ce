// The machine's monotonic clock.
#pragma once

#include "platform/platform.h"

namespace rompush::platform::posix {

class SteadyClock : public Clock {
  public:
    std::int64_t NowMs() const override;
};

}  // namespace rompush::platform::posix
