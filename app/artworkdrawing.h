#pragma once

#include <QImage>
#include <QSize>

// The window's own pictures, a stepped ramp being the picture of what a DAC does. The build
// draws them once (tx4410_artwork_writer) and the programs show the kept pixels: drawing them
// at each start cost about a tenth of the start-up's work.

// The header's emblem.
inline constexpr QSize logoSize(108, 35);
QImage drawLogo();
// The strip under the part description.
inline constexpr QSize bannerSize(381, 30);
QImage drawBanner();
// The window's and the desktop entries' icon.
inline constexpr QSize iconSize(32, 32);
QImage drawWindowIcon();
