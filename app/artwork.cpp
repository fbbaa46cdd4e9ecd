#include "artwork.h"

#include "artworkdrawing.h"

#include <cstdint>

// Written by tx4410_artwork_writer: each picture's pixels, 0xAARRGGBB, row by row.
namespace keptPixels {
extern const std::uint32_t logo[];
extern const std::uint32_t banner[];
extern const std::uint32_t icon[];
} // namespace keptPixels

namespace {

QPixmap pictureOf(const std::uint32_t *pixels, QSize size)
{
    return QPixmap::fromImage(QImage(reinterpret_cast<const uchar *>(pixels), size.width(),
                                     size.height(), size.width() * 4, QImage::Format_RGB32));
}

} // namespace

QPixmap logoPicture()
{
    return pictureOf(keptPixels::logo, logoSize);
}

QPixmap bannerPicture()
{
    return pictureOf(keptPixels::banner, bannerSize);
}

QIcon windowIconPicture()
{
    return QIcon(pictureOf(keptPixels::icon, iconSize));
}

QPixmap layoutPicture(QStringView name)
{
    if (name == u"logo")
        return logoPicture();
    if (name == u"banner")
        return bannerPicture();
    return {};
}
