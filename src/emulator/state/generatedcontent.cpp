#include "state/generatedcontent.h"

#include <QtEndian>

#include <cstring>

namespace Tarnwick::Emulator::GeneratedContent {

namespace {

inline quint64 word(quint64 seed, quint64 index)
{
    // splitmix64 of (seed, index): cheap, well mixed, and position independent.
    quint64 x = seed ^ (index * 0xD1B54A32D192ED03ull);
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

void fill(quint64 seed, qint64 offset, char *out, qint64 length)
{
    if (length <= 0)
        return;
    quint64 index = quint64(offset) / 8;
    int skip = int(quint64(offset) % 8);
    if (skip) {
        const quint64 w = qToLittleEndian(word(seed, index++));
        const qint64 n = qMin<qint64>(8 - skip, length);
        std::memcpy(out, reinterpret_cast<const char *>(&w) + skip, size_t(n));
        out += n;
        length -= n;
    }
    while (length >= 8) {
        const quint64 w = qToLittleEndian(word(seed, index++));
        std::memcpy(out, &w, 8);
        out += 8;
        length -= 8;
    }
    if (length > 0) {
        const quint64 w = qToLittleEndian(word(seed, index));
        std::memcpy(out, &w, size_t(length));
    }
}

QByteArray bytes(quint64 seed, qint64 offset, qint64 length)
{
    QByteArray out(length, Qt::Uninitialized);
    fill(seed, offset, out.data(), length);
    return out;
}

} // namespace Tarnwick::Emulator::GeneratedContent
