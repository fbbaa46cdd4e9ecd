#pragma once

// How busy the rest of the machine was while the bench ran: the share of all processors that
// other processes used, from the kernel's counters minus this process and its children.
// Figures taken while others compile are noisy; this says how much.
class MachineLoad final
{
public:
    MachineLoad(); // starts counting

    // 0 to 1 since construction; negative when the counters cannot be read.
    double othersShare() const;

private:
    struct Counters
    {
        double busySeconds = -1; // all processors, all processes
        double totalSeconds = -1;
        double ownSeconds = 0; // this process and its waited-for children
    };
    static Counters read();

    Counters m_start;
};
