#include "usbstufffourfunction.h"

#include "boardprotocol.h"

USBStuffFourFunction::USBStuffFourFunction(const QByteArray &libraryPath)
    : m_library(BoardLibrary::atPath(libraryPath))
    , m_searchForBoards(m_library, "Search_For_Boards")
    , m_connect(m_library, "Connect")
    , m_downloadFirmware(m_library, "Download_Firmware")
    , m_vendorRequest(m_library, "Vendor_Request")
{ }

// Only the load's status is looked at: the library reports a missing board through it.
std::int16_t USBStuffFourFunction::InitialiseBoard()
{
    std::array<std::uint8_t, 128> boardList {};
    std::int32_t found = 0;
    m_searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, boardList.data());
    m_connect(BoardProtocol::vendorId, BoardProtocol::productId, boardList[0], &m_boardHandle);
    SetFirmwarePath(firmwarePath());
    return m_downloadFirmware(m_boardHandle, m_pathBuffer.data());
}

std::int16_t USBStuffFourFunction::VendorRequest(const VendorRequestFields &fields,
                                                 std::span<std::uint8_t> buffer)
{
    if (!fitsBuffer(fields, buffer))
        return requestRefused;
    return m_vendorRequest(m_boardHandle, fields.code, fields.value, fields.index, fields.direction,
                           fields.length, buffer.data());
}
