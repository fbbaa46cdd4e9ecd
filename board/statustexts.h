// What each board status means to a person at the bench and what to do about it: one table,
// read by the board libraries, the command line and the window alike.
#pragma once

#include "boardstatus.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace StatusTexts {

struct Row
{
    BoardStatus status;
    const char *name;
    const char *meaning;
    const char *fix; // empty where there is nothing a user can do
};

inline constexpr std::array<Row, 32> rows = {{
        {BoardStatus::Ok, "Ok", "done", ""},
        {BoardStatus::NoBoard, "NoBoard", "no board found under the configured USB identities",
         "connect the board to a USB port; 'tx4410-cli list' shows what is on the bus"},
        {BoardStatus::BadHandle, "BadHandle", "a handle that Connect did not give",
         "bring the board up again"},
        {BoardStatus::NullArgument, "NullArgument", "a null pointer where the call needs one", ""},
        {BoardStatus::PathTooLong, "PathTooLong", "the firmware path is over 4096 bytes",
         "install the program in a folder with a shorter path"},
        {BoardStatus::FirmwareMissing, "FirmwareMissing",
         "the firmware image TX4413.hex is missing",
         "put the board maker's image at /etc/tx4410/TX4413.hex (for a build: build/bin/)"},
        {BoardStatus::FirmwareInvalid, "FirmwareInvalid",
         "the firmware file is not an Intel HEX image for the board's RAM",
         "put the board maker's image in its place ('tx4410-cli doctor' checks it)"},
        {BoardStatus::NotLoaded, "NotLoaded", "a request before the firmware was loaded",
         "bring the board up first"},
        {BoardStatus::UnknownRequest, "UnknownRequest", "a request code the firmware does not know",
         ""},
        {BoardStatus::WrongDirection, "WrongDirection", "a direction other than the request's", ""},
        {BoardStatus::WrongLength, "WrongLength", "a length other than the request's", ""},
        {BoardStatus::ValueOutOfRange, "ValueOutOfRange", "a value beyond the request's range", ""},
        {BoardStatus::IndexOutOfRange, "IndexOutOfRange", "an index beyond the request's range",
         ""},
        {BoardStatus::RequestRefused, "RequestRefused",
         "the firmware knows the request but not its value", ""},
        {BoardStatus::RequestFailed, "RequestFailed", "a USB transfer failed",
         "check the cable and plug the board in again ('tx4410-cli doctor' checks the rest)"},
        {BoardStatus::NotSimulated, "NotSimulated",
         "a simulated-board control while the USB board is selected", "set TX4410_BOARD=sim"},
        {BoardStatus::BadChannel, "BadChannel", "a channel beyond D", ""},
        {BoardStatus::InternalError, "InternalError", "the board library failed inside",
         "report it with the trace of TX4410_BOARD_TRACE"},
        {BoardStatus::StandInFirmware, "StandInFirmware",
         "TX4413.hex is the stand-in image for the simulated board, never loaded into a real one",
         "put the board maker's image at /etc/tx4410/TX4413.hex, or run with TX4410_BOARD=sim"},
        {BoardStatus::BoardNotBack, "BoardNotBack",
         "after the load the board did not come back with its firmware identity in time",
         "check firmware-id in board.conf against 'tx4410-cli list', or raise come-back-seconds"},
        {BoardStatus::ShortTransfer, "ShortTransfer", "the board moved fewer bytes than asked",
         "check the board's firmware image"},
        {BoardStatus::Stalled, "Stalled", "the board refused the transfer (a stall)",
         "check the board's firmware image"},
        {BoardStatus::TimedOut, "TimedOut", "the board did not answer within 1 s",
         "check the cable and the board's power, then plug it in again"},
        {BoardStatus::BoardGone, "BoardGone", "the board left the bus",
         "check the cable and plug the board in again"},
        {BoardStatus::NoAccess, "NoAccess", "no permission to open the board",
         "install the udev rule and join the plugdev group ('tx4410-cli doctor' shows how)"},
        {BoardStatus::BoardBusy, "BoardBusy", "another program holds the board",
         "close the other program ('tx4410-cli doctor' names it) or choose another board"},
        {BoardStatus::ConfigInvalid, "ConfigInvalid", "the board configuration is malformed",
         "correct the file or variable named ('tx4410-cli doctor' checks it)"},
        {BoardStatus::NotRunningFirmware, "NotRunningFirmware",
         "the board runs only its loader, so there is nothing to attach to",
         "bring it up without --attach (or TX4410_ATTACH) to load the firmware"},
        {BoardStatus::PortNotFound, "PortNotFound", "no board at the chosen port",
         "choose a port that 'tx4410-cli list' shows (--board, TX4410_BOARD_PORT)"},
        {BoardStatus::Unconfigured, "Unconfigured", "the board has no active USB configuration",
         "plug the board in again ('tx4410-cli doctor' checks it)"},
        {BoardStatus::UsbUnavailable, "UsbUnavailable", "USB cannot be looked at on this machine",
         "check /dev/bus/usb: it must exist and be open to you ('tx4410-cli doctor' checks it); "
         "a container needs it passed through (docker run --device /dev/bus/usb)"},
        {BoardStatus::UsbError, "UsbError",
         "USB failed a step with an error this program does not expect",
         "plug the board in again; if it stays, report the step and error named here"},
}};

// The row of a status, or nullptr for a number that is no status: rows are in status order.
constexpr const Row *find(int status)
{
    return status >= 0 && static_cast<std::size_t>(status) < rows.size()
            ? &rows[std::size_t(status)]
            : nullptr;
}

static_assert(
        [] {
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (static_cast<std::size_t>(rows[i].status) != i)
                    return false;
            }
            return true;
        }(),
        "one row per status, in order");

// doctor shows a fix without the words that send the reader to doctor: each mention of it is a
// bracket of its own, " ('tx4410-cli doctor' ...)", which doctor leaves out.
constexpr bool namesDoctorInBracketsOnly(std::string_view fix)
{
    constexpr std::string_view doctor = " ('tx4410-cli doctor'";
    for (std::size_t at = fix.find("tx4410-cli doctor"); at != std::string_view::npos;
         at = fix.find("tx4410-cli doctor", at + 1)) {
        if (at < 3 || fix.substr(at - 3, doctor.size()) != doctor)
            return false;
    }
    return true;
}

static_assert(
        [] {
            for (const Row &row : rows) {
                if (!namesDoctorInBracketsOnly(row.fix))
                    return false;
            }
            return true;
        }(),
        "a fix names tx4410-cli doctor only as \" ('tx4410-cli doctor' ...)\"");

} // namespace StatusTexts
