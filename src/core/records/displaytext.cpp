#include "records/displaytext.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick::DisplayText {

namespace {

bool hidden(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

bool hiddenInMessage(char16_t c)
{
    return c != u'\n' && hidden(c);
}

using Hidden = bool (*)(char16_t);

QString neutralised(QStringView text, Hidden isHidden)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (isHidden(c.unicode()))
            out += u"[U+%1]"_s.arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString capped(const QString &text, qsizetype limit, Hidden isHidden)
{
    limit = std::max<qsizetype>(limit, 8);
    if (text.size() <= limit) {
        if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) { return isHidden(c.unicode()); }))
            return text;
        return neutralised(text, isHidden);
    }
    const qsizetype tail = (limit - 1) / 4;
    qsizetype headEnd = limit - 1 - tail;
    qsizetype tailStart = text.size() - tail;
    if (text.at(headEnd - 1).isHighSurrogate())
        --headEnd;
    if (text.at(tailStart).isLowSurrogate())
        ++tailStart;
    return neutralised(QStringView(text).first(headEnd), isHidden) + u'…'
           + neutralised(QStringView(text).sliced(tailStart), isHidden);
}

} // namespace

QString neutralised(QStringView text)
{
    return neutralised(text, hidden);
}

QString shown(const QString &text, qsizetype limit)
{
    return capped(text, limit, hidden);
}

QString message(const QString &text, qsizetype limit)
{
    return capped(text, limit, hiddenInMessage);
}

} // namespace Tarnwick::DisplayText
