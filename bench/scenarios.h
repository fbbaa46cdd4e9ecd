#pragma once

class BenchWindow;

// How many of everything: the full run, and the quick look.
struct Amounts
{
    int actionWarmUps;
    int actionRepetitions;
    int requestBatches;
    int requestsPerBatch;
    int ticks;       // 0: no tick measurement
    int sweeps;      // repetitions of the sweep's loop against the direct one
    int sweepPoints; // points of each
};

// The user's actions on the loaded window, each a real input event delivered to its control and
// timed with the repaint it causes; one repetition is one action. Each checks its effect.
void registerActions(BenchWindow &window, const Amounts &amounts);
// The auto-sample timer as the user starts it; one repetition is one tick's interval, the first
// measured from the click.
void registerTicks(BenchWindow &window, int ticks);
// The time the program's own code adds to one vendor request; one repetition is one batch.
void registerRequestOverhead(const Amounts &amounts);
// The sweep's own cost per point against the same requests called directly; one repetition is
// one sweep each way. And the whole sweep command per point, results written.
void registerSweepCost(const Amounts &amounts);
