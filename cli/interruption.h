// Ctrl-C as a request to stop between board requests, and sleeps that it cuts short.
#pragma once

#include <chrono>

// From now on SIGINT, SIGTERM and SIGHUP only mark the run as interrupted; the program stops at
// its next check.
void catchInterrupt();

bool isInterrupted();
// Readable once such a signal has come: for an event loop to wake on.
int interruptionDescriptor();
// How many such signals have come so far.
int interruptions();
// 128 + the last signal's number, as a shell counts a process that it ended: 130 for Ctrl-C.
int interruptedStatus();

// Sleeps until the deadline on the steady clock; false, at once, when interrupted.
bool sleepUntil(std::chrono::steady_clock::time_point deadline);
