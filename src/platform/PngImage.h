// PngImage: an image as the bytes of a PNG file, from an encoder of our own.
//
// Qt's writer asks every image-format plugin installed whether it would
// rather write PNG itself, and so loads each of them (gif, ico, jpeg, ...)
// into the process; the menu's pictures go to tray hosts as PNG, and none of
// them needs a plugin. One IDAT chunk, 8-bit RGBA, no row filters: a 16x16
// picture is a few hundred bytes either way. Any thread.
#pragma once

#include <QByteArray>

class QImage;

namespace PngImage {

// Empty for a null image.
QByteArray encode(const QImage& image);

} // namespace PngImage
