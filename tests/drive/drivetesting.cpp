#include "drivetesting.h"

#include "net/endpoints.h"
#include "net/tarnwicknetwork.h"

#include <QJsonDocument>

#include <ostream>

using namespace Qt::StringLiterals;

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace Tarnwick::Testing {

namespace {
Emulator::DriveEmulator &started(Emulator::DriveEmulator &emulator)
{
    emulator.start();
    return emulator;
}
} // namespace

DriveClientTest::DriveClientTest()
    : account(started(emulator).addTestAccount())
    , client(TarnwickNetwork::session(),
             [this](bool forceRefresh, std::stop_token) -> QCoro::Task<QString> {
                 tokenRequests.append(forceRefresh);
                 co_return tokenFor ? tokenFor(forceRefresh) : account.accessToken;
             })
{
    Endpoints::setCurrent(Endpoints::withBase(QUrl(emulator.baseUrl())));
    emulator.clearRequestLog();
}

DriveClientTest::~DriveClientTest()
{
    Endpoints::setCurrent(Endpoints::defaults());
}

DriveClientTest::Query DriveClientTest::queryOf(const Emulator::RequestRecord &record)
{
    Query query;
    const qsizetype mark = record.target.indexOf(u'?');
    if (mark < 0)
        return query;
    const QString raw = record.target.mid(mark + 1);
    // Fully encoded: nothing a server might read differently ("+" as a space, a bare "'").
    for (const QChar c : raw) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || QStringView(u"-._~%&=").contains(c);
        EXPECT_TRUE(plain) << "unencoded '" << QString(c).toStdString() << "' in "
                           << raw.toStdString();
    }
    for (const QString &pair : raw.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        const auto decode = [](const QString &text) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
        };
        const QString name = decode(pair.left(eq < 0 ? pair.size() : eq));
        EXPECT_FALSE(query.contains(name)) << "parameter sent twice: " << name.toStdString();
        query.insert(name, eq < 0 ? QString() : decode(pair.mid(eq + 1)));
    }
    return query;
}

void DriveClientTest::expectRequest(const Emulator::RequestRecord &record, const QString &method,
                                    const QString &path, const Query &query)
{
    EXPECT_EQ(record.method, method);
    EXPECT_EQ(record.path, path);
    EXPECT_EQ(queryOf(record), query) << record.target.toStdString();
}

void DriveClientTest::expectJsonBody(const Emulator::RequestRecord &record, const QJsonObject &body)
{
    EXPECT_EQ(record.header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(record.bodyLength, QJsonDocument(body).toJson(QJsonDocument::Compact).size());
}

int DriveClientTest::answerOnce(int status, const QByteArray &body, const QString &method,
                                const QString &path)
{
    Emulator::FaultRule rule = Emulator::FaultRule::respond(status, method, path);
    rule.body = body;
    return emulator.addFault(rule);
}

} // namespace Tarnwick::Testing
