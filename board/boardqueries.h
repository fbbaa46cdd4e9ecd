// Questions a program may ask either board library besides its face functions: why the last
// bring-up failed, which boards are on the bus, whether a firmware image would be taken, and
// what the configuration says. Each returns a status, 0 for success.
#pragma once

#include <cstdint>

extern "C" {

struct BoardListEntry
{
    char port[32]; // "1-2.3", or "sim"; NUL-terminated
    std::uint8_t bus;
    std::uint8_t address;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::uint8_t firmwareRunning; // 1: it shows the firmware identity; 0: only its loader's
    std::uint8_t kernelDriver;    // 1: a kernel driver holds its interface
    std::int16_t access;          // 0: it can be opened; else the status opening it gives
    char failure[160]; // with access 31: the step that failed and USB's error; NUL-terminated
};

struct BoardSettings
{
    char file[4096];    // the configuration file read; empty when there was none
    char problem[1024]; // what is wrong with the configuration; empty when nothing
    std::uint16_t loaderVendorId;
    std::uint16_t loaderProductId;
    std::uint16_t firmwareVendorId;
    std::uint16_t firmwareProductId;
    std::int32_t comeBackMilliseconds;
    char port[32]; // the board chosen; empty for any
    std::uint8_t attach;
};

// More on the last failed bring-up attempt, listing or request (the file, the port, the
// configuration line, the step and USB's error), at most size - 1 bytes and a NUL; "" when
// there is nothing more.
std::int16_t Board_StatusDetail(char *text, std::int32_t size);
// Up to `capacity` boards into `entries`, and how many there are in *count.
std::int16_t Board_List(BoardListEntry *entries, std::int32_t capacity, std::int32_t *count);
// The same without opening any board: access and kernelDriver are 0. A program that watches the
// bus while others bring boards up asks this, since a board it held for a moment would be
// refused to them.
std::int16_t Board_Present(BoardListEntry *entries, std::int32_t capacity, std::int32_t *count);
// The status a load of the image at the path would meet before anything is sent: 0, 4, 5, 6,
// or 18 for the stand-in image where the USB board is selected.
std::int16_t Board_CheckFirmware(const char *path);
// The configuration in force; 26 with the problem filled in when it is malformed.
std::int16_t Board_ReadSettings(BoardSettings *settings);

using BoardStatusDetailFunction = std::int16_t (*)(char *, std::int32_t);
using BoardListFunction = std::int16_t (*)(BoardListEntry *, std::int32_t, std::int32_t *);
using BoardCheckFirmwareFunction = std::int16_t (*)(const char *);
using BoardReadSettingsFunction = std::int16_t (*)(BoardSettings *);
}
