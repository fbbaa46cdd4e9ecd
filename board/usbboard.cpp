#include "usbboard.h"

int UsbBoard::search(std::int32_t, std::int32_t)
{
    return 0;
}

BoardStatus UsbBoard::open(int)
{
    return BoardStatus::NoBoard;
}

BoardStatus UsbBoard::loadFirmware(const IntelHexImage &)
{
    return BoardStatus::NoBoard;
}

BoardStatus UsbBoard::transfer(const BoardProtocol::RequestKind &, std::int32_t, std::int32_t,
                               std::span<std::uint8_t>)
{
    return BoardStatus::NoBoard;
}
