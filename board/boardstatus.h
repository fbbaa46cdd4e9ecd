// What a board library call reports: 0 for success, one code per reason of failure.
#pragma once

#include <cstdint>

enum class BoardStatus : std::int16_t {
    Ok = 0,
    NoBoard = 1,   // no board found, or none opened by this attempt
    BadHandle = 2, // a handle that Connect did not give
    NullArgument = 3,
    PathTooLong = 4,
    FirmwareMissing = 5, // no readable regular file at the path
    FirmwareInvalid = 6, // not an Intel HEX image for the board's RAM
    NotLoaded = 7,       // a request before a successful firmware load
    UnknownRequest = 8,
    WrongDirection = 9,
    WrongLength = 10,
    ValueOutOfRange = 11,
    IndexOutOfRange = 12,
    RequestRefused = 13, // the firmware knows the request but not its value
    RequestFailed = 14,  // the transfer itself failed, for none of the reasons below
    NotSimulated = 15,   // a control call while the USB board is selected
    BadChannel = 16,
    InternalError = 17, // an exception stopped at the library boundary
    // The USB board's own reasons.
    StandInFirmware = 18, // the simulated board's stand-in image: never loaded into a real board
    BoardNotBack = 19,    // after the load, no board came back with the firmware identity in time
    ShortTransfer = 20,   // the board moved fewer bytes than asked
    Stalled = 21,         // the board refused the transfer
    TimedOut = 22,        // no answer within the transfer's timeout
    BoardGone = 23,       // the board left the bus: the cable pulled, or the board reset
    NoAccess = 24,        // no permission to open the board: see the udev rule
    BoardBusy = 25,       // another program holds the board's interface
    ConfigInvalid = 26,   // the board configuration (file or variable) is malformed
    NotRunningFirmware = 27, // attaching found a board that runs only its loader
    PortNotFound = 28,       // no board at the port that was chosen
    Unconfigured = 29,       // the device has no active USB configuration
    UsbUnavailable = 30,     // USB cannot be looked at: no /dev/bus/usb, or libusb did not start
    UsbError = 31,           // libusb failed a step with an error of no other kind
};

constexpr std::int16_t statusCode(BoardStatus status)
{
    return static_cast<std::int16_t>(status);
}
