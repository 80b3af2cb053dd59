#pragma once

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

namespace Tarnwick::Testing {

// A reproducible byte stream of any length without storing it: a pseudo-random block of prime
// length repeated, so a dropped, doubled or shifted piece anywhere shows up on comparison.
class Pattern final
{
public:
    static constexpr qint64 period = 1000003;

    static const Pattern &instance()
    {
        static const Pattern pattern;
        return pattern;
    }

    // Copies bytes [offset, offset + size) of the stream.
    void fill(qint64 offset, char *out, qint64 size) const
    {
        while (size > 0) {
            const qint64 at = offset % period;
            const qint64 n = std::min(size, period - at);
            std::memcpy(out, m_block.constData() + at, size_t(n));
            out += n;
            offset += n;
            size -= n;
        }
    }

    QByteArray bytes(qint64 offset, qint64 size) const
    {
        QByteArray out(size, Qt::Uninitialized);
        fill(offset, out.data(), size);
        return out;
    }

    // Whether `data` equals bytes [offset, offset + size) of the stream.
    bool matches(qint64 offset, const char *data, qint64 size) const
    {
        while (size > 0) {
            const qint64 at = offset % period;
            const qint64 n = std::min(size, period - at);
            if (std::memcmp(data, m_block.constData() + at, size_t(n)) != 0)
                return false;
            data += n;
            offset += n;
            size -= n;
        }
        return true;
    }

private:
    Pattern()
        : m_block(period, Qt::Uninitialized)
    {
        QRandomGenerator generator(20240611);
        for (qint64 i = 0; i < period; ++i)
            m_block[i] = char(generator.generate() & 0xff);
    }

    QByteArray m_block;
};

} // namespace Tarnwick::Testing
