#pragma once

#include <QIcon>
#include <QPixmap>
#include <QStringView>

// The window's pictures as the build drew them (artworkdrawing.h).

// 108 x 35: the header's emblem.
QPixmap logoPicture();
// 381 x 30: the strip under the part description.
QPixmap bannerPicture();
// 32 x 32.
QIcon windowIconPicture();

// The layout's pictures by name ("logo", "banner"); a null pixmap for any other name.
QPixmap layoutPicture(QStringView name);
