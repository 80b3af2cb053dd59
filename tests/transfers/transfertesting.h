#pragma once

#include "async/clock.h"
#include "drive/drivetesting.h"

#include <QTemporaryDir>

#include <utility>

namespace Tarnwick::Testing {

// A DriveClient against the emulator with a test clock (retry waits take milliseconds and are
// recorded), a scratch folder and a progress recorder.
class TransferTest : public DriveClientTest
{
protected:
    TransferTest();
    ~TransferTest() override;

    // Deterministic bytes that differ for every seed.
    static QByteArray contents(qint64 size, quint64 seed = 1)
    {
        return Emulator::DriveEmulator::generatedBytes(seed, 0, size);
    }
    static QString sha256(const QByteArray &bytes);
    static QString sha256OfFile(const QString &path);
    QString path(const QString &name) const { return dir.filePath(name); }

    // Records every report; checks that done never exceeds total.
    DriveClient::Progress recorder();
    // Whether the done figures never went down.
    bool progressIsMonotonic() const;

    // The requests sent to the upload endpoint or for media, in order.
    QList<Emulator::RequestRecord> uploadRequests() const;
    QList<Emulator::RequestRecord> mediaRequests() const;
    QList<std::chrono::milliseconds> waits() const { return clock.requestedDelays(); }

    TestClock clock;
    QTemporaryDir dir;
    using Report = std::pair<qint64, qint64>;
    QList<Report> reports;
};

} // namespace Tarnwick::Testing
