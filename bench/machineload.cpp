#include "machineload.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

double seconds(const timeval &time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

MachineLoad::MachineLoad()
    : m_start(read())
{ }

MachineLoad::Counters MachineLoad::read()
{
    Counters counters;
    counters.ownSeconds = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    std::ifstream stat("/proc/stat");
    std::string label;
    // user nice system idle iowait irq softirq steal, in clock ticks
    double ticks[8] = {};
    if (!(stat >> label) || label != "cpu")
        return counters;
    for (double &value : ticks) {
        if (!(stat >> value))
            return counters;
    }
    const double perSecond = double(sysconf(_SC_CLK_TCK));
    double total = 0;
    for (const double value : ticks)
        total += value;
    const double idle = ticks[3] + ticks[4];
    counters.busySeconds = (total - idle) / perSecond;
    counters.totalSeconds = total / perSecond;
    return counters;
}

double MachineLoad::othersShare() const
{
    const Counters now = read();
    if (m_start.busySeconds < 0 || now.busySeconds < 0)
        return -1;
    const double total = now.totalSeconds - m_start.totalSeconds;
    if (total <= 0)
        return -1;
    const double others
            = (now.busySeconds - m_start.busySeconds) - (now.ownSeconds - m_start.ownSeconds);
    return others < 0 ? 0 : others / total;
}
