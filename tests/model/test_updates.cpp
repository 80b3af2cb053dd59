// The daily update check: comparing versions, the manifest's rules, and the model's schedule.
#include "modeltesting.h"
#include "support/testsupport.h"
#include "updates/updatenotice.h"

#include "appinfo.h"
#include "updates/updatechecker.h"
#include "async/runsync.h"

#include <QSettings>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;

namespace {

class Updates : public ModelTest
{
protected:
    QByteArray manifest(const QString &version, const QString &url, const char *extra = "")
    {
        return u"{\"mac\":{\"version\":\"%1\",\"url\":\"%2\"}%3}"_s
            .arg(version, url, QString::fromUtf8(extra))
            .toUtf8();
    }
    QString page() const { return emulator.baseUrl() + u"/tai-ve"_s; }
    std::optional<AvailableUpdate> fetch() { return runSync(UpdateChecker::fetch()); }
};

} // namespace

TEST(UpdateVersions, PiecesCompareAsNumbersAndUnreadablePiecesCountAsZero)
{
    using UpdateChecker::isNewer;
    EXPECT_TRUE(isNewer(u"1.10"_s, u"1.9"_s));
    EXPECT_FALSE(isNewer(u"1.2"_s, u"1.2.0"_s));
    EXPECT_FALSE(isNewer(u"1.2.0"_s, u"1.2"_s));
    EXPECT_TRUE(isNewer(u"2"_s, u"1.99.99"_s));
    EXPECT_FALSE(isNewer(u"1.2.3-beta"_s, u"1.2.2"_s));
    EXPECT_TRUE(isNewer(u"1..3"_s, u"1.2"_s));
}

TEST(UpdateManifest, OnlyADownloadPageOnTheManifestsOwnHostIsOffered)
{
    using UpdateChecker::offer;
    const QUrl at(u"https://tarnwick.app/tarnwick/latest.json"_s);
    const auto make = [](const char *url) {
        return QByteArray(R"({"mac":{"version":"3.0","url":")") + url + R"("}})";
    };
    EXPECT_EQ(offer(make("https://tarnwick.app/get"), at, u"2.0"_s, std::nullopt),
              (AvailableUpdate{u"3.0"_s, QUrl(u"https://tarnwick.app/get"_s), QString()}));
    for (const char *foreign :
         {"https://evil.example/get", "https://tarnwick.app.evil.example/", "/relative", ""})
        EXPECT_FALSE(offer(make(foreign), at, u"2.0"_s, std::nullopt)) << foreign;
    // The right host, but not a page the browser fetches over https.
    for (const char *unsafe : {"http://tarnwick.app/get", "file://tarnwick.app/etc/passwd",
                               "ftp://tarnwick.app/get", "javascript://tarnwick.app/%0Aalert(1)"})
        EXPECT_FALSE(offer(make(unsafe), at, u"2.0"_s, std::nullopt)) << unsafe;
    // Plain http only where the manifest itself is on this machine (tests, the demo).
    const QUrl local(u"http://127.0.0.1:8080/tarnwick/latest.json"_s);
    EXPECT_TRUE(offer(make("http://127.0.0.1:9/get"), local, u"2.0"_s, std::nullopt));
    EXPECT_FALSE(offer(make("file://127.0.0.1/etc/passwd"), local, u"2.0"_s, std::nullopt));
    for (const char *broken :
         {"[]", R"({"mac":{"version":3,"url":"x"}})",
          R"({"mac":{"version":"3","url":"https://tarnwick.app/"},"notes":1})"})
        EXPECT_FALSE(offer(broken, at, u"2.0"_s, std::nullopt)) << broken;
}

TEST_F(Updates, FetchSendsItsOwnUserAgentAndHonoursTheSkippedVersion)
{
    emulator.setUpdateManifest(manifest(u"99.1"_s, page(), R"(,"notes":"Sửa lỗi")"));
    const auto found = fetch();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->version, u"99.1"_s);
    EXPECT_EQ(found->url, QUrl(page()));
    EXPECT_EQ(found->notes, u"Sửa lỗi"_s);
    const auto sent = requests(u"GET"_s, u"^/tarnwick/latest.json$"_s);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.at(0).header(u"User-Agent"_s), u"Tarnwick-Linux/"_s + AppInfo::version());
    EXPECT_FALSE(sent.at(0).hasAuthorization);
    EXPECT_EQ(AppInfo::version(), QStringLiteral(TARNWICK_VERSION));

    QSettings().setValue(UpdateChecker::skippedVersionKey(), u"99.1"_s);
    EXPECT_FALSE(fetch().has_value());
    emulator.setUpdateManifest(manifest(u"99.2"_s, page()));
    EXPECT_EQ(fetch()->notes, QString());

    emulator.setUpdateManifest(manifest(AppInfo::version(), page()));
    EXPECT_FALSE(fetch().has_value());
    emulator.setUpdateManifest(manifest(u"99.3"_s, page()));
    for (int status : {304, 500}) {
        emulator.addFault(FaultRule::respond(status, u"GET"_s, u"^/tarnwick/"_s));
        EXPECT_FALSE(fetch().has_value()) << status;
    }
    emulator.stop();
    EXPECT_FALSE(fetch().has_value());
}

TEST_F(Updates, ModelChecksDailyAndSkippingHidesTheOfferForGood)
{
    TestClock fast{1e-6};
    emulator.setUpdateManifest(manifest(u"99.1"_s, page()));
    auto model = makeModel();
    runSync(model->initialize());
    ASSERT_TRUE(waitUntil([&] { return model->updates().availableUpdate().has_value(); }));
    EXPECT_EQ(model->updates().availableUpdate()->version, u"99.1"_s);

    emulator.setUpdateManifest(manifest(u"99.2"_s, page()));
    ASSERT_TRUE(
        waitUntil([&] { return model->updates().availableUpdate()->version == u"99.2"_s; }));
    EXPECT_TRUE(fast.requestedDelays().contains(std::chrono::milliseconds(86'400'000)));

    model->updates().openUpdateDownload();
    EXPECT_EQ(desktop.openedUrls, QList<QUrl>{QUrl(page())});
    EXPECT_TRUE(model->updates().updateDismissed());
    model->updates().skipUpdate();
    EXPECT_FALSE(model->updates().availableUpdate().has_value());
    EXPECT_EQ(QSettings().value(UpdateChecker::skippedVersionKey()).toString(), u"99.2"_s);

    // Later checks find the skipped version again and stay quiet; a failing server says nothing.
    emulator.addFault(FaultRule::respond(500, u"GET"_s, u"^/tarnwick/"_s));
    const qsizetype checks = requests(u"GET"_s, u"^/tarnwick/"_s).size();
    ASSERT_TRUE(
        waitUntil([&] { return requests(u"GET"_s, u"^/tarnwick/"_s).size() > checks + 2; }));
    EXPECT_FALSE(model->updates().availableUpdate().has_value());
    EXPECT_FALSE(model->error().has_value());
}
