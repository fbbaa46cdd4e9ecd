#include "usbstuffboardport.h"

USBStuffBoardPort::USBStuffBoardPort(const QByteArray &libraryName)
    : m_library(BoardLibrary::byName(libraryName))
    , m_loadFirmware(m_library, "_Z12LoadFirmWarePc")
    , m_vendorIORequest(m_library, "_Z15VendorIORequestsiissPc")
{ }

std::int16_t USBStuffBoardPort::InitialiseBoard()
{
    return m_loadFirmware(reinterpret_cast<char *>(m_pathBuffer.data()));
}

std::int16_t USBStuffBoardPort::VendorRequest(const VendorRequestFields &fields,
                                              std::span<std::uint8_t> buffer)
{
    if (!fitsBuffer(fields, buffer))
        return requestRefused;
    return m_vendorIORequest(fields.code, fields.value, fields.index, fields.direction,
                             fields.length, reinterpret_cast<char *>(buffer.data()));
}
