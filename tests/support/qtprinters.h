#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <ostream>

// Readable GoogleTest failure output for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << '"' << b.toStdString() << '"';
}

inline void PrintTo(const QDateTime &d, std::ostream *os)
{
    *os << d.toString(Qt::ISODateWithMs).toStdString();
}

inline void PrintTo(const QMap<QString, QString> &map, std::ostream *os)
{
    *os << '{';
    for (auto it = map.begin(); it != map.end(); ++it)
        *os << "\n  " << it.key().toStdString() << ": " << it.value().left(12).toStdString();
    *os << '}';
}
