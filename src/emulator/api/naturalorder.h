#pragma once

#include <QString>

namespace Tarnwick::Emulator {

// Drive's "name_natural" order: case and accents are ignored at first ("Ảnh" sits beside "anh"),
// digit runs compare by value ("file2" before "file10"); ties fall back to the accented, then the
// exact text so the order is total. Negative, zero or positive like strcmp.
int naturalCompare(const QString &a, const QString &b);

// A name prepared once for many comparisons (sorting a large folder).
struct NaturalKey
{
    QString base;   // accents and case removed
    QString folded; // case removed
    QString exact;
    bool operator==(const NaturalKey &other) const = default;
};
NaturalKey naturalKey(const QString &name);
int naturalCompare(const NaturalKey &a, const NaturalKey &b);

} // namespace Tarnwick::Emulator
