// The real tarnwick executable against tarnwick-drive-emulator: a three-level tree of about 200
// files uploaded and another downloaded, the process killed at chosen points and started again
// (auto-resume on), or the connections cut at random; afterwards both trees must match their
// sources by SHA-256 with no duplicate on Drive and nothing left behind.
//
// TARNWICK_E2E_SOAK=N repeats the kill points N times (later rounds shifted) and the fault run
// with N seeds.

#include "e2eharness.h"

#include "driveemulator.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace Tarnwick::EndToEnd;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// One file of a test tree.
struct FileSpec
{
    QString path; // below the tree's top folder
    qint64 size = 0;
    quint64 seed = 0;
};

// 17 folders on three levels and 200 files: most of a few KiB, some empty, some of several
// hundred KiB, and four above the 5 MiB multipart limit (one spanning two 8 MiB chunks).
QList<FileSpec> treeSpec(quint64 salt)
{
    QList<FileSpec> files;
    QRandomGenerator random(salt);
    int n = 0;
    auto add = [&](const QString &folder, int count) {
        for (int i = 0; i < count; ++i, ++n) {
            qint64 size = random.bounded(1, 32 * 1024);
            if (n % 50 == 7)
                size = 0;
            else if (n % 17 == 3)
                size = random.bounded(200 * 1024, 900 * 1024);
            const QString name = u"tệp %1 số %2.bin"_s.arg(i + 1).arg(n);
            files.append({folder.isEmpty() ? name : folder + u'/' + name, size, salt * 1000 + n});
        }
    };
    add({}, 8);
    for (int a = 1; a <= 4; ++a) {
        const QString level1 = u"Thư mục %1"_s.arg(a);
        add(level1, 8);
        for (const QString &b : {u"Mục a"_s, u"Mục b"_s, u"Mục c"_s})
            add(level1 + u'/' + b, 13);
    }
    files.append({u"video lớn.bin"_s, 9 * MiB + 1234, salt * 1000 + 900});
    files.append({u"Thư mục 2/ảnh gốc.raw"_s, 6 * MiB, salt * 1000 + 901});
    files.append({u"Thư mục 3/Mục b/bản sao.iso"_s, 5 * MiB + MiB / 2, salt * 1000 + 902});
    files.append({u"Thư mục 4/Mục c/nhật ký.tar"_s, 5 * MiB + 1, salt * 1000 + 903});
    return files;
}

QByteArray contentOf(const FileSpec &file)
{
    return Tarnwick::Emulator::DriveEmulator::generatedBytes(file.seed, 0, file.size);
}

// A kill point: what to watch, and how long to wait once it is seen.
struct KillPoint
{
    QString label;
    QJsonObject rule;      // a fault rule whose firing is the signal; empty: watch the log
    QString logMethod;     // or the count of answered requests matching these
    QString logPath;       // regular expression
    QString logQuery;      // text the target must contain
    int logCount = 0;
    int lagMs = 0;
};

struct Summary
{
    int tried = 0;
    int landed = 0; // kills that hit a running process before it finished by itself
    int identical = 0;
    int duplicates = 0;
    int leftovers = 0;
};

int soakRounds()
{
    return std::max(1, qEnvironmentVariableIntValue("TARNWICK_E2E_SOAK"));
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QElapsedTimer setup;
        setup.start();
        ASSERT_TRUE(work.isValid());
        emulator = std::make_unique<EmulatorProcess>(work.path());
        ASSERT_FALSE(emulator->baseUrl().isEmpty()) << "the emulator did not start";
        profile = std::make_unique<TarnwickProfile>(work.path(), emulator->baseUrl());

        // The local tree to upload.
        uploadRoot = work.filePath(u"nguồn/Dữ liệu máy"_s);
        for (const FileSpec &file : treeSpec(1)) {
            const QString path = uploadRoot + u'/' + file.path;
            QDir().mkpath(QFileInfo(path).path());
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(contentOf(file));
        }

        // The Drive tree to download, and what it must become on disk.
        const QString driveName = u"Ảnh và tài liệu"_s;
        driveRoot = emulator->createFolder(driveName, {});
        QHash<QString, QString> folders{{QString(), driveRoot}};
        auto folderOf = [&](const QString &path) {
            const QStringList parts = path.split(u'/');
            QString at;
            for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
                const QString next = at.isEmpty() ? parts[i] : at + u'/' + parts[i];
                if (!folders.contains(next))
                    folders.insert(next, emulator->createFolder(parts[i], folders.value(at)));
                at = next;
            }
            return folders.value(at);
        };
        for (const FileSpec &file : treeSpec(2)) {
            const QString id = emulator->createGeneratedFile(file.path.section(u'/', -1),
                                                             folderOf(file.path), file.size,
                                                             file.seed);
            if (file.size > 5 * MiB)
                bigDownloads.append(id);
            expectedDownload.insert(driveName + u'/' + file.path,
                                    QCryptographicHash::hash(contentOf(file),
                                                             QCryptographicHash::Sha256)
                                        .toHex());
        }
        emulator->takeLog();
        std::printf("trees made in %lld ms\n", qint64(setup.elapsed()));
    }

    // Starts tarnwick and waits for its end; with a kill point, kills it once the point is seen.
    // Returns the exit code, or -1 after a kill.
    int run(const QStringList &arguments, const KillPoint *point, bool *landed)
    {
        int faultId = 0;
        if (point && !point->rule.isEmpty())
            faultId = emulator->addFault(point->rule);
        auto process = profile->start(arguments);
        int counted = 0;
        const QRegularExpression path(point ? point->logPath : QString());
        QElapsedTimer elapsed;
        elapsed.start();
        bool killed = false;
        while (process->state() != QProcess::NotRunning && elapsed.elapsed() < 600'000) {
            process->waitForFinished(20);
            if (!point || killed || process->state() == QProcess::NotRunning
                || !QFile::exists(profile->sessionFile()))
                continue;
            bool seen = false;
            if (faultId) {
                seen = emulator->fired(faultId) > 0;
            } else {
                for (const QJsonObject &r : emulator->takeLog()) {
                    if (r[u"method"_s].toString() == point->logMethod
                        && path.match(r[u"path"_s].toString()).hasMatch()
                        && r[u"target"_s].toString().contains(point->logQuery)
                        && r[u"status"_s].toInt() / 100 == 2)
                        ++counted;
                }
                seen = counted >= point->logCount;
            }
            if (!seen)
                continue;
            if (point->lagMs)
                QThread::msleep(point->lagMs);
            if (process->state() != QProcess::NotRunning) {
                ::kill(pid_t(process->processId()), SIGKILL);
                killed = true;
                *landed = true;
            }
        }
        if (process->state() != QProcess::NotRunning) {
            ADD_FAILURE() << "tarnwick did not finish";
            process->kill();
        }
        process->waitForFinished(10'000);
        emulator->clearFaults();
        emulator->takeLog();
        return killed ? -1 : process->exitCode();
    }

    // Checks a finished trial: the upload under driveTarget, the download under localTarget,
    // and nothing left of the saved session.
    TrialResult check(const QString &driveTarget, const QString &localTarget)
    {
        TrialResult result;
        const QList<EmulatorProcess::Item> top = emulator->children(driveTarget);
        if (top.size() != 1 || top.first().name != u"Dữ liệu máy"_s || !top.first().folder) {
            result.identical = false;
            result.duplicates += std::max<int>(int(top.size()) - 1, 0);
            result.notes << u"the upload's top folder is missing or doubled"_s;
        }
        for (const EmulatorProcess::Item &item : top) {
            if (item.folder && item.name == u"Dữ liệu máy"_s) {
                compareDrive(*emulator, item.id, uploadRoot, result, item.name);
                break;
            }
        }
        compareLocal(localTarget, expectedDownload, result);
        for (const QString &file : {profile->sessionFile(), profile->sessionFile() + u".tmp"_s}) {
            if (QFile::exists(file)) {
                ++result.leftovers;
                result.notes << u"left: "_s + QFileInfo(file).fileName();
            }
        }
        return result;
    }

    void tally(Summary &summary, const TrialResult &result, const QString &label)
    {
        if (result.identical)
            ++summary.identical;
        summary.duplicates += result.duplicates;
        summary.leftovers += result.leftovers;
        for (const QString &note : result.notes.mid(0, 20))
            std::printf("  %s: %s\n", qPrintable(label), qPrintable(note));
        EXPECT_TRUE(result.identical) << qPrintable(label);
        EXPECT_EQ(result.duplicates, 0) << qPrintable(label);
        EXPECT_EQ(result.leftovers, 0) << qPrintable(label);
    }

    QStringList transfersInto(const QString &driveTarget, const QString &localTarget) const
    {
        return {u"--upload"_s, uploadRoot, u"--to"_s, driveTarget,
                u"--download"_s, driveRoot, u"--into"_s, localTarget};
    }

    QTemporaryDir work;
    std::unique_ptr<EmulatorProcess> emulator;
    std::unique_ptr<TarnwickProfile> profile;
    QString uploadRoot;
    QString driveRoot;
    QStringList bigDownloads;
    TreeDigest expectedDownload;
};

QJsonObject delayRule(const QString &method, const QString &path, int skip, int ms)
{
    return {{u"method"_s, method}, {u"path"_s, path}, {u"skip"_s, skip},
            {u"action"_s, u"delay"_s}, {u"delayMs"_s, ms}};
}

QJsonObject throttleRule(const QString &method, const QString &path, const QString &query,
                         int skip, qint64 bytesPerSecond)
{
    return {{u"method"_s, method},
            {u"path"_s, path},
            {u"query"_s, query},
            {u"skip"_s, skip},
            {u"action"_s, u"throttle"_s},
            {u"bytesPerSecond"_s, bytesPerSecond}};
}

QJsonObject resetRule(const QString &type, const QString &method, const QString &path,
                      const QString &query, qint64 bytes, double probability)
{
    return {{u"method"_s, method},    {u"path"_s, path},
            {u"query"_s, query},      {u"times"_s, 0},
            {u"probability"_s, probability},
            {u"action"_s, type},      {u"bytes"_s, bytes}};
}

TEST_F(EndToEnd, Kills)
{
    const QString folderCreate = u"^/drive/v3/files$"_s;
    const QString uploads = u"^/upload/drive/v3/files$"_s;
    QList<KillPoint> points;
    for (int k : {0, 1, 4, 9, 15})
        points.append({u"during folder creation %1"_s.arg(k),
                       delayRule(u"POST"_s, folderCreate, k, 1500), {}, {}, {}, 0, 100});
    points.append({u"after the first generateIds"_s, {}, u"GET"_s, u"generateIds"_s, {}, 1, 0});
    for (int k : {0, 1, 2, 3})
        points.append({u"inside upload chunk %1"_s.arg(k),
                       throttleRule(u"PUT"_s, uploads, u"upload_id"_s, k, 3 * MiB), {}, {}, {},
                       0, 600});
    for (int k = 0; k < 4; ++k)
        points.append({u"inside a large download %1"_s.arg(k),
                       throttleRule(u"GET"_s, u"^/drive/v3/files/"_s + bigDownloads.value(k) + u'$',
                                    u"alt=media"_s, 0, 3 * MiB),
                       {}, {}, {}, 0, 700});
    for (int n : {5, 60, 130})
        points.append({u"after %1 uploaded files"_s.arg(n), {}, u"POST"_s, uploads,
                       u"uploadType=multipart"_s, n, 0});
    for (int n : {10, 80, 140})
        points.append({u"after %1 downloaded files"_s.arg(n), {}, u"GET"_s,
                       u"^/drive/v3/files/[^/]+$"_s, u"alt=media"_s, n, 0});

    Summary summary;
    QElapsedTimer total;
    total.start();
    const int rounds = soakRounds();
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype i = 0; i < points.size(); ++i) {
            KillPoint point = points[i];
            // Later soak rounds land a little later each time.
            point.lagMs += round * 150;
            if (point.logCount)
                point.logCount += round * 7;
            const QString label = u"kill %1 (%2)"_s.arg(summary.tried + 1).arg(point.label);
            const QString driveTarget =
                emulator->createFolder(u"Lần %1"_s.arg(summary.tried + 1), {});
            const QString localTarget = work.filePath(u"tải về/lần %1"_s.arg(summary.tried + 1));
            ++summary.tried;
            QElapsedTimer trial;
            trial.start();
            bool landed = false;
            const int first = run(transfersInto(driveTarget, localTarget), &point, &landed);
            if (landed)
                ++summary.landed;
            const int second = first == -1 ? run({}, nullptr, &landed) : first;
            EXPECT_EQ(second, 0) << qPrintable(label) << ":\n" << qPrintable(profile->logTail());
            const qint64 ran = trial.elapsed();
            tally(summary, check(driveTarget, localTarget), label);
            std::printf("%s: %s, finished with %d, %lld ms (checked in %lld ms)\n",
                        qPrintable(label), landed ? "killed" : "missed", second, ran,
                        qint64(trial.elapsed() - ran));
        }
    }
    std::printf("E2E kills: kills tried %d (landed %d), trees identical %d of %d, duplicates "
                "found %d, leftovers found %d, %lld s\n",
                summary.tried, summary.landed, summary.identical, summary.tried,
                summary.duplicates, summary.leftovers, qint64(total.elapsed() / 1000));
    // A point seen only as the run ends can miss on a slow machine; most must land.
    EXPECT_GE(summary.landed * 4, summary.tried * 3);
}

TEST_F(EndToEnd, Faults)
{
    const QString folderCreate = u"^/drive/v3/files$"_s;
    const QString uploads = u"^/upload/drive/v3/files$"_s;
    const QString media = u"^/drive/v3/files/[^/]+$"_s;
    Summary summary;
    QElapsedTimer total;
    total.start();
    int resets = 0;
    const int rounds = soakRounds();
    for (int round = 0; round < rounds; ++round) {
        emulator->call("PUT", u"/__control/faults/seed"_s,
                       QJsonDocument(QJsonObject{{u"seed"_s, 17 + round}}));
        // Cut requests before, inside and after their bodies (after: the request takes effect and
        // its answer is lost) and answers partway through.
        const QList<QJsonObject> rules{
            resetRule(u"resetRequest"_s, u"POST"_s, folderCreate, {}, 1'000'000, 0.2),
            resetRule(u"resetRequest"_s, u"POST"_s, uploads, u"uploadType=multipart"_s, 3000,
                      0.04),
            resetRule(u"resetRequest"_s, u"POST"_s, uploads, u"uploadType=multipart"_s,
                      1'000'000'000, 0.04),
            resetRule(u"resetRequest"_s, u"POST"_s, uploads, u"uploadType=resumable"_s,
                      1'000'000, 0.2),
            resetRule(u"resetRequest"_s, u"PUT"_s, uploads, u"upload_id"_s, 2 * MiB, 0.3),
            resetRule(u"resetResponse"_s, u"GET"_s, media, u"alt=media"_s, 3000, 0.04),
            resetRule(u"resetResponse"_s, u"GET"_s, media, u"alt=media"_s, 2 * MiB, 0.3),
        };
        QList<int> ids;
        for (const QJsonObject &rule : rules)
            ids.append(emulator->addFault(rule));
        const QString label = u"faults %1"_s.arg(round + 1);
        const QString driveTarget = emulator->createFolder(label, {});
        const QString localTarget = work.filePath(u"tải về/"_s + label);
        ++summary.tried;
        auto process = profile->start(transfersInto(driveTarget, localTarget));
        QElapsedTimer trial;
        trial.start();
        while (process->state() != QProcess::NotRunning && trial.elapsed() < 600'000)
            process->waitForFinished(200);
        for (int id : ids)
            resets += emulator->fired(id);
        emulator->clearFaults();
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0) << qPrintable(profile->logTail());
        if (process->state() != QProcess::NotRunning)
            process->kill();
        process->waitForFinished(10'000);
        std::printf("%s: finished with %d, %lld ms\n", qPrintable(label), process->exitCode(),
                    qint64(trial.elapsed()));
        tally(summary, check(driveTarget, localTarget), label);
    }
    std::printf("E2E faults: runs %d, connections cut %d, trees identical %d of %d, duplicates "
                "found %d, leftovers found %d, %lld s\n",
                summary.tried, resets, summary.identical, summary.tried, summary.duplicates,
                summary.leftovers, qint64(total.elapsed() / 1000));
    EXPECT_GT(resets, 0);
}

} // namespace
