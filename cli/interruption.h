// Ctrl-C as a request to stop between board requests, and sleeps that it cuts short.
#pragma once

#include <chrono>

// From now on SIGINT only marks the run as interrupted; the program stops at its next check.
void catchInterrupt();

bool isInterrupted();

// Sleeps until the deadline on the steady clock; false, at once, when interrupted.
bool sleepUntil(std::chrono::steady_clock::time_point deadline);

// Sleeps until the deadline whatever comes: a measurement's settling is never cut short.
void sleepThrough(std::chrono::steady_clock::time_point deadline);
