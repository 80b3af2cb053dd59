#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace Tarnwick::Emulator::PngImage {

// Encodes 8-bit RGB pixels (width * height * 3 bytes, rows top to bottom) as a PNG file. The
// emulator links QtCore only, so thumbnails are drawn and encoded here.
QByteArray encode(int width, int height, const QByteArray &rgb);

// A thumbnail picture: a diagonal gradient between two colours (0xRRGGBB) with a simple motif.
enum class Motif { Photo, Document, Video, Plain };
QByteArray thumbnail(int width, int height, quint32 from, quint32 to, Motif motif);

} // namespace Tarnwick::Emulator::PngImage
