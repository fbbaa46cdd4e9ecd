#include "fakeboardstate.h"
#include "fakeboard.h"

#include <cstdio>
#include <cstdlib>

FakeBoardState &fakeBoard()
{
    static FakeBoardState state;
    return state;
}

std::string hex(long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", value);
    return text;
}

void FakeBoardState::record(const std::string &line)
{
    log += line + '\n';
    if (const char *file = std::getenv("TX4410_FAKE_LOG")) {
        if (std::FILE *out = std::fopen(file, "a")) {
            std::fputs((line + '\n').c_str(), out);
            std::fclose(out);
        }
    }
}

std::string FakeBoardState::takeRequest(std::int16_t length, std::uint8_t *buffer,
                                        std::int16_t direction)
{
    const int bytes = length > 0 ? length : 1;
    std::string seen = "buffer=[";
    for (int i = 0; i < bytes; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, i ? " %02x" : "%02x", buffer[i]);
        seen += text;
    }
    seen += "]";
    if (direction == 1) {
        for (int i = 0; i < length && i < 2; ++i)
            buffer[i] = reply[i];
    }
    return seen;
}

extern "C" {

__attribute__((visibility("default"))) void FakeBoard_Reset()
{
    fakeBoard() = FakeBoardState();
}

__attribute__((visibility("default"))) void FakeBoard_SetLoadStatus(std::int16_t status)
{
    fakeBoard().loadStatus = status;
}

__attribute__((visibility("default"))) void FakeBoard_SetRequestStatus(std::int16_t status)
{
    fakeBoard().requestStatus = status;
}

__attribute__((visibility("default"))) void FakeBoard_SetBoardFound(std::uint8_t board,
                                                                    std::int32_t found)
{
    fakeBoard().boardListByte = board;
    fakeBoard().found = found;
}

__attribute__((visibility("default"))) void FakeBoard_SetReply(std::uint8_t first,
                                                               std::uint8_t second)
{
    fakeBoard().reply[0] = first;
    fakeBoard().reply[1] = second;
}

__attribute__((visibility("default"))) const char *FakeBoard_Log()
{
    return fakeBoard().log.c_str();
}
}
