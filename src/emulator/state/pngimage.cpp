#include "state/pngimage.h"

#include <QtEndian>

#include <array>
#include <cmath>

namespace Tarnwick::Emulator::PngImage {

namespace {

quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char b : bytes)
        c = table[(c ^ quint8(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void appendU32(QByteArray &out, quint32 v)
{
    const quint32 be = qToBigEndian(v);
    out.append(reinterpret_cast<const char *>(&be), 4);
}

void chunk(QByteArray &out, const char *type, const QByteArray &data)
{
    appendU32(out, quint32(data.size()));
    QByteArray typed(type, 4);
    typed += data;
    out += typed;
    appendU32(out, crc32(typed));
}

int channel(quint32 rgb, int shift)
{
    return int((rgb >> shift) & 0xFF);
}

} // namespace

QByteArray encode(int width, int height, const QByteArray &rgb)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendU32(header, quint32(width));
    appendU32(header, quint32(height));
    header.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
    chunk(png, "IHDR", header);
    QByteArray raw;
    raw.reserve((width * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.append(char(0)); // filter: none
        raw.append(rgb.constData() + qsizetype(y) * width * 3, width * 3);
    }
    // qCompress prefixes the zlib stream with a 4-byte length that PNG does not want.
    chunk(png, "IDAT", qCompress(raw, 9).mid(4));
    chunk(png, "IEND", QByteArray());
    return png;
}

QByteArray thumbnail(int width, int height, quint32 from, quint32 to, Motif motif)
{
    QByteArray rgb(qsizetype(width) * height * 3, Qt::Uninitialized);
    const double span = double(width + height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double t = (x + y) / span;
            int c[3];
            for (int i = 0; i < 3; ++i) {
                const int shift = 16 - 8 * i;
                c[i] = int(channel(from, shift) * (1 - t) + channel(to, shift) * t);
            }
            if (motif == Motif::Photo) {
                const double dx = x - width * 0.72, dy = y - height * 0.3;
                if (dx * dx + dy * dy < (height * 0.13) * (height * 0.13))
                    c[0] = 255, c[1] = 236, c[2] = 160;
                const double ridge = height * (0.62 + 0.12 * std::sin(x * 6.2831 / width * 1.5));
                if (y > ridge)
                    c[0] /= 2, c[1] = c[1] / 2 + 40, c[2] /= 2;
            } else if (motif == Motif::Document) {
                const bool margin = x > width / 8 && x < width * 7 / 8;
                if (margin && y > height / 6 && (y / 8) % 2 == 0 && y % 8 < 3)
                    c[0] = c[1] = c[2] = 250;
            } else if (motif == Motif::Video) {
                const double cx = width / 2.0, cy = height / 2.0, r = height * 0.2;
                if (x > cx - r * 0.6 && x < cx + r && std::abs(y - cy) < (cx + r - x) * 0.6)
                    c[0] = c[1] = c[2] = 255;
            }
            char *p = rgb.data() + (qsizetype(y) * width + x) * 3;
            p[0] = char(c[0]);
            p[1] = char(c[1]);
            p[2] = char(c[2]);
        }
    }
    return encode(width, height, rgb);
}

} // namespace Tarnwick::Emulator::PngImage
