#pragma once

// Shared by the libFuzzer targets: the input as Qt types, and a check that stops the run with a
// readable reason (libFuzzer keeps the input that broke it).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Tarnwick::Fuzz {

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Splits off the first byte, which targets use to pick a reader or a parameter.
inline uint8_t takeSelector(const uint8_t *&data, size_t &size)
{
    if (size == 0)
        return 0;
    --size;
    return *data++;
}

[[noreturn]] inline void broken(const char *invariant, const QString &detail = {})
{
    std::fprintf(stderr, "invariant broken: %s\n%s\n", invariant, qPrintable(detail));
    std::abort();
}

inline void check(bool holds, const char *invariant, const QString &detail = {})
{
    if (!holds)
        broken(invariant, detail);
}

} // namespace Tarnwick::Fuzz
