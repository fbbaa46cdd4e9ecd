#pragma once

#include <cstdint>
#include <string>

// The state both fakes keep; each fake library holds its own copy.
struct FakeBoardState
{
    std::int16_t loadStatus = 0;
    std::int16_t requestStatus = 0;
    std::uint8_t boardListByte = 0;
    std::int32_t found = 0;
    std::uint8_t reply[2] = {0, 0};
    std::int32_t handle = 77;
    std::string log;

    // Appends the line to the log and, when TX4410_FAKE_LOG names a file, to that file too.
    void record(const std::string &line);
    // Handles a request's buffer: its contents before the call, then the reply for a read.
    std::string takeRequest(std::int16_t length, std::uint8_t *buffer, std::int16_t direction);
};

FakeBoardState &fakeBoard();
std::string hex(long value);
