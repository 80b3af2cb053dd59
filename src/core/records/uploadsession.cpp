#include "records/uploadsession.h"

#include "drive/internetdate.h"
#include "drive/jsonreader.h"

#include <QJsonDocument>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick {

bool UploadSession::operator==(const UploadSession &other) const
{
    // QDateTime equality is by instant, so the same moment read in another zone still matches.
    return url == other.url && size == other.size && modified == other.modified;
}

namespace {

const QDateTime &secondsReference()
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return reference;
}

// Dates read as seconds since the reference: beyond this the milliseconds no longer survive the
// trip through a double.
constexpr double secondsLimit = 1e12;

} // namespace

QJsonObject UploadSession::toJson() const
{
    // A file may carry a modification date RFC 3339 has no form for (past the year 9999); that one
    // is kept as seconds, which fromJson also reads, so the session still reads back.
    const QJsonValue date = InternetDate::isWritable(modified) || !modified.isValid()
                                ? QJsonValue(InternetDate::format(modified))
                                : QJsonValue(double(secondsReference().msecsTo(modified)) / 1000);
    return QJsonObject{
        {"url"_L1, url.toString(QUrl::FullyEncoded)}, {"size"_L1, size}, {"modified"_L1, date}};
}

UploadSession UploadSession::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "UploadSession"_L1);
    UploadSession session;

    const QString urlText = reader.requiredString("url"_L1);
    session.url = QUrl(urlText, QUrl::StrictMode);
    if (!session.url.isValid() || session.url.isRelative())
        throw DecodingError::malformed("UploadSession"_L1, u"\"url\" is not an absolute URL"_s);
    // Held in the form it is stored in ("#" inside a fragment becomes "%23"), so a stored session
    // reads back equal to itself.
    session.url = QUrl(session.url.toString(QUrl::FullyEncoded), QUrl::StrictMode);

    session.size = reader.requiredInt64("size"_L1);

    const QJsonValue modified = reader.requiredValue("modified"_L1);
    if (modified.isString()) {
        const auto date = InternetDate::parse(modified.toString());
        if (!date)
            throw DecodingError::malformed("UploadSession"_L1, u"\"modified\" is not a date"_s);
        session.modified = *date;
    } else if (modified.isDouble() && std::abs(modified.toDouble()) < secondsLimit) {
        session.modified =
            secondsReference().addMSecs(qint64(std::llround(modified.toDouble() * 1000)));
    } else {
        throw reader.wrongType("modified"_L1, "a date"_L1);
    }
    return session;
}

UploadSession UploadSession::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parseObject(bytes, "UploadSession"_L1));
}

} // namespace Tarnwick
