#include "transfertesting.h"

#include <QCryptographicHash>
#include <QFile>

using namespace Qt::StringLiterals;

namespace Tarnwick::Testing {

TransferTest::TransferTest()
{
    Clock::install(&clock);
}

TransferTest::~TransferTest()
{
    Clock::install(nullptr);
}

QString TransferTest::sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString TransferTest::sha256OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"(missing)"_s;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

DriveClient::Progress TransferTest::recorder()
{
    return [this](qint64 done, qint64 total) {
        EXPECT_LE(done, total) << "progress beyond the total";
        reports.append({done, total});
    };
}

bool TransferTest::progressIsMonotonic() const
{
    for (qsizetype i = 1; i < reports.size(); ++i)
        if (reports[i].first < reports[i - 1].first)
            return false;
    return true;
}

QList<Emulator::RequestRecord> TransferTest::uploadRequests() const
{
    QList<Emulator::RequestRecord> out;
    for (const auto &record : requests())
        if (record.path.startsWith(u"/upload/"_s))
            out.append(record);
    return out;
}

QList<Emulator::RequestRecord> TransferTest::mediaRequests() const
{
    QList<Emulator::RequestRecord> out;
    for (const auto &record : requests())
        if (record.queryValue(u"alt"_s) == u"media"_s)
            out.append(record);
    return out;
}

} // namespace Tarnwick::Testing
