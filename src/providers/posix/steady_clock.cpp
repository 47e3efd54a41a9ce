#include "providers/posix/steady_clock.h"

#include <chrono>

namespace rompush::platform::posix {

std::int64_t SteadyClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace rompush::platform::posix
