// The two binary forms of the board library, exactly as the program binds them.
#pragma once

#include <cstdint>

extern "C" {

// Four-function form, libKVN_CYUSB_USB4.so: status 0 for success.
std::int16_t Search_For_Boards(std::int32_t vendorId, std::int32_t productId, std::int32_t *found,
                               std::uint8_t *boardList);
std::int16_t Connect(std::int32_t vendorId, std::int32_t productId, std::uint8_t board,
                     std::int32_t *handle);
std::int16_t Download_Firmware(std::int32_t handle, std::uint8_t *path);
std::int16_t Vendor_Request(std::int32_t handle, std::uint8_t request, std::int32_t value,
                            std::int32_t index, std::uint8_t direction, std::int16_t length,
                            std::uint8_t *buffer);

using SearchForBoardsFunction
        = std::int16_t (*)(std::int32_t, std::int32_t, std::int32_t *, std::uint8_t *);
using ConnectFunction = std::int16_t (*)(std::int32_t, std::int32_t, std::uint8_t, std::int32_t *);
using DownloadFirmwareFunction = std::int16_t (*)(std::int32_t, std::uint8_t *);
using VendorRequestFunction
        = std::int16_t (*)(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                           std::int16_t, std::uint8_t *);
}

// Two-function form, libBoardPort.so, C++ linkage. LoadFirmWare fails with a negative status;
// VendorIORequest reports 0 for success.
short LoadFirmWare(char *path);
short VendorIORequest(short request, int value, int index, short direction, short length,
                      char *buffer);

using LoadFirmWareFunction = short (*)(char *);
using VendorIORequestFunction = short (*)(short, int, int, short, short, char *);

namespace BoardFaces {
inline constexpr const char *searchForBoardsSymbol = "Search_For_Boards";
inline constexpr const char *connectSymbol = "Connect";
inline constexpr const char *downloadFirmwareSymbol = "Download_Firmware";
inline constexpr const char *vendorRequestSymbol = "Vendor_Request";
inline constexpr const char *loadFirmWareSymbol = "_Z12LoadFirmWarePc";
inline constexpr const char *vendorIORequestSymbol = "_Z15VendorIORequestsiissPc";
} // namespace BoardFaces
