// tarnwick-bench-listing: the Drive client's folder listing, timed, for bench/drive-listing.
//
//   tarnwick-bench-listing seed COUNT TOKEN     a seed for the emulator on stdout: one user, the
//                                                token, and folder "1BenchListing" holding COUNT
//                                                items (a twentieth of them folders)
//   tarnwick-bench-listing list BASE TOKEN FOLDER ROUNDS
//                                                lists FOLDER ROUNDS times through
//                                                DriveClient::list and sorts it as the Drive pane
//                                                does; one line per round: "RESULT list_ms=…
//                                                fetch_ms=… sort_ms=… count=…"
#include "drive/driveclient.h"
#include "net/endpoints.h"
#include "async/runsync.h"
#include "records/sortoption.h"
#include "net/tarnwicknetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <exception>

using namespace Qt::StringLiterals;
using namespace Tarnwick;

namespace {

const QString benchFolder = u"1BenchListing"_s;

int seed(int count, const QString &token)
{
    // Names mix scripts, digits and cases so that natural ordering and collation do real work.
    const QStringList stems{u"Báo cáo"_s, u"invoice"_s, u"Ảnh chụp"_s, u"Notes"_s,
                            u"dữ liệu"_s, u"IMG_"_s,    u"Hợp đồng"_s, u"draft"_s};
    const QStringList extensions{u"pdf"_s, u"docx"_s, u"jpg"_s, u"xlsx"_s, u"txt"_s};
    QJsonArray children;
    for (int i = 0; i < count; ++i) {
        const QString stem = stems[i % stems.size()];
        QJsonObject item{
            {u"name"_s, u"%1 %2"_s.arg(stem).arg((i * 7919) % count)},
            {u"modifiedTime"_s, QDateTime::fromSecsSinceEpoch(1'600'000'000 + i * 977LL, Qt::UTC)
                                    .toString(Qt::ISODate)}};
        if (i % 20 == 0) {
            item.insert(u"type"_s, u"folder"_s);
        } else {
            item[u"name"_s] = item[u"name"_s].toString() + u'.' + extensions[i % extensions.size()];
            item.insert(u"content"_s,
                        QJsonObject{{u"generated"_s, QJsonObject{{u"size"_s, (i * 131) % 5'000'000},
                                                                 {u"seed"_s, i + 1}}}});
        }
        children.append(item);
    }
    const QJsonObject world{
        {u"settings"_s, QJsonObject{{u"trailingEmptyPage"_s, false}}},
        {u"users"_s, QJsonArray{QJsonObject{{u"email"_s, u"bench@example.com"_s},
                                            {u"displayName"_s, u"Bench"_s}}}},
        {u"accessTokens"_s, QJsonArray{QJsonObject{{u"token"_s, token}}}},
        {u"items"_s, QJsonArray{QJsonObject{{u"id"_s, benchFolder},
                                            {u"name"_s, u"Listing"_s},
                                            {u"type"_s, u"folder"_s},
                                            {u"children"_s, children}}}}};
    const QByteArray json = QJsonDocument(world).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    return 0;
}

int list(const QString &base, const QString &token, const QString &folder, int rounds)
{
    Endpoints::setCurrent(Endpoints::withBase(QUrl(base)));
    const DriveClient client(
        TarnwickNetwork::session(),
        [token](bool, std::stop_token) -> QCoro::Task<QString> { co_return token; });
    const SortOption order; // the pane's default: name, ascending, folders first
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const QList<DriveFile> files = runSync(client.list(folder, false), std::chrono::minutes(2));
        const qint64 fetched = timer.nsecsElapsed();
        const QList<DriveFile> sorted = order.sorted(
            files, [](const DriveFile &f) { return f.name; },
            [](const DriveFile &f) { return f.isFolder(); },
            [](const DriveFile &f) { return f.modifiedDate(); },
            [](const DriveFile &f) { return f.bytes(); });
        const qint64 total = timer.nsecsElapsed();
        if (sorted.size() != files.size() || (!sorted.isEmpty() && !sorted.first().isFolder())) {
            std::fprintf(stderr, "tarnwick-bench-listing: the sorted listing is wrong\n");
            return 1;
        }
        std::printf("RESULT list_ms=%.2f fetch_ms=%.2f sort_ms=%.2f count=%lld\n", total / 1e6,
                    fetched / 1e6, (total - fetched) / 1e6, qlonglong(files.size()));
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        if (args.size() == 4 && args[1] == "seed"_L1)
            return seed(args[2].toInt(), args[3]);
        if (args.size() == 6 && args[1] == "list"_L1)
            return list(args[2], args[3], args[4], args[5].toInt());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-bench-listing: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: tarnwick-bench-listing seed COUNT TOKEN | list BASE TOKEN FOLDER "
                         "ROUNDS\n");
    return 2;
}
