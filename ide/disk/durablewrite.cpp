#include "durablewrite.h"

#include <mutex>

namespace kesto::fileio {

namespace {
std::mutex watchMutex;
StepWatch stepWatch;
} // namespace

void watchDurableSteps(StepWatch watch)
{
    const std::lock_guard lock(watchMutex);
    stepWatch = std::move(watch);
}

bool stepAllowed(const DurableStep &step)
{
    StepWatch watch;
    {
        const std::lock_guard lock(watchMutex);
        if (!stepWatch)
            return true;
        watch = stepWatch;
    }
    return watch(step);
}

} // namespace kesto::fileio
