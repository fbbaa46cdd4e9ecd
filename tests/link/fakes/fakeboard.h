#pragma once

// Recording stand-ins for the two board library forms, for tests of the program's side: every
// call is logged as one line, and every status and reply is the test's to choose. Both fake
// libraries export these control functions next to their board functions.

#include <cstdint>

extern "C" {
// Back to: every status 0, no log, reply bytes 0 0, board list byte 0, handle 77.
void FakeBoard_Reset();
// Status of Download_Firmware and LoadFirmWare.
void FakeBoard_SetLoadStatus(std::int16_t status);
void FakeBoard_SetRequestStatus(std::int16_t status);
// What Search_For_Boards writes into byte 0 of the board list, and how many it reports.
void FakeBoard_SetBoardFound(std::uint8_t board, std::int32_t found);
// The two bytes a read request receives, whatever its status.
void FakeBoard_SetReply(std::uint8_t first, std::uint8_t second);
// Every call so far, one line each.
const char *FakeBoard_Log();
}

using FakeBoardResetFunction = void();
using FakeBoardSetStatusFunction = void(std::int16_t);
using FakeBoardSetBoardFoundFunction = void(std::uint8_t, std::int32_t);
using FakeBoardSetReplyFunction = void(std::uint8_t, std::uint8_t);
using FakeBoardLogFunction = const char *();
