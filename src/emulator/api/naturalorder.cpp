#include "api/naturalorder.h"

namespace Tarnwick::Emulator {

namespace {

QString baseLetters(const QString &s)
{
    const QString decomposed = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        if (c == QChar(0x0111) || c == QChar(0x0110)) // đ Đ have no decomposition
            out.append(QChar(u'd'));
        else
            out.append(c);
    }
    return out.toCaseFolded();
}

// Only ASCII digits make numbers: with other digits (U+0662 and kin) counted too, a run compared by
// value against one compared by code unit gave cycles such as "10" < "a" < "٢" < "10", which
// sorting relies on never happening.
bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int compareRuns(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const QChar ca = a.at(i), cb = b.at(j);
        if (isDigit(ca) && isDigit(cb)) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && isDigit(a.at(ei)))
                ++ei;
            while (ej < b.size() && isDigit(b.at(ej)))
                ++ej;
            qsizetype si = i, sj = j;
            while (si < ei - 1 && a.at(si) == u'0')
                ++si;
            while (sj < ej - 1 && b.at(sj) == u'0')
                ++sj;
            const qsizetype la = ei - si, lb = ej - sj;
            if (la != lb)
                return la < lb ? -1 : 1;
            const int c = QStringView(a).mid(si, la).compare(QStringView(b).mid(sj, lb));
            if (c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        if (ca != cb)
            return ca.unicode() < cb.unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

NaturalKey naturalKey(const QString &name)
{
    return NaturalKey{baseLetters(name), name.toCaseFolded(), name};
}

int naturalCompare(const NaturalKey &a, const NaturalKey &b)
{
    if (const int c = compareRuns(a.base, b.base))
        return c;
    if (const int c = compareRuns(a.folded, b.folded))
        return c;
    return a.exact.compare(b.exact);
}

int naturalCompare(const QString &a, const QString &b)
{
    return naturalCompare(naturalKey(a), naturalKey(b));
}

} // namespace Tarnwick::Emulator
