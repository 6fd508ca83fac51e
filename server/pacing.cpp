// The segment delay and its busy-wait.
#include "pacing.h"

#include <algorithm>

void paceDelay(PaceClock::time_point from, uint32_t us)
{
    if (us == 0)
        return;
    const PaceClock::time_point target = from + std::chrono::microseconds(us);
    while (PaceClock::now() < target) {
    }
}

uint32_t effectiveSegmentDelay(int64_t configuredUs)
{
    return uint32_t(std::clamp<int64_t>(configuredUs, 0, kMaxSegmentDelayUs));
}

uint32_t resendDelayStep(uint32_t packetSize)
{
    return (packetSize & 0x7FFFFFFFu) / 724;
}

uint32_t raisedSegmentDelay(int64_t currentUs, uint32_t step)
{
    return effectiveSegmentDelay(int64_t(effectiveSegmentDelay(currentUs)) + step);
}
