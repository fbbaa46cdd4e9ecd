#pragma once

#include "vendorrequest.h"

#include <cstdint>

// One device request the board did not accept.
struct RequestFailure
{
    const char *operation; // the device operation, e.g. "SendCommandWord"
    VendorRequestFields fields;
    std::int16_t status; // the library's status, never 0
};

// Told of every failed device request, so that a window can show its box and a program without
// one can print a line; the operation returns normally once it has been told.
class RequestFailureReporter
{
public:
    virtual ~RequestFailureReporter() = default;

    virtual void requestFailed(const RequestFailure &failure) = 0;

protected:
    RequestFailureReporter() = default;
    RequestFailureReporter(const RequestFailureReporter &) = default;
    RequestFailureReporter &operator=(const RequestFailureReporter &) = default;
};
