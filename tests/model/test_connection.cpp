// Start-up, sign-in, configuration import, the account and signing out, against the emulator.
#include "modeltesting.h"
#include "signin/signintesting.h"
#include "support/testsupport.h"

#include "drive/driveclient.h"
#include "records/errors.h"
#include "auth/googleauth.h"
#include "auth/oauthutilities.h"
#include "async/runsync.h"

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;

namespace {

class Connection : public ModelTest
{
protected:
    // Starts a sign-in and waits until it has opened the browser.
    void startLogin(AppModel &model)
    {
        const qsizetype before = desktop.openedUrls.size();
        model.connection().login();
        ASSERT_TRUE(waitUntil([&] { return desktop.openedUrls.size() > before; }));
    }
};

} // namespace

TEST_F(Connection, StartUpWithTokensOfAnotherClientIsReadyToSignInAndAsksDriveNothing)
{
    storeSession(true, u"other-client.apps.googleusercontent.com"_s);
    auto model = makeModel();
    runSync(model->initialize());
    EXPECT_TRUE(model->connection().configured());
    EXPECT_FALSE(model->connection().connected());
    EXPECT_EQ(model->connection().accountName(), u"Chưa kết nối"_s);
    EXPECT_EQ(model->connection().accountEmail(), u"Google Drive"_s);
    EXPECT_TRUE(requests(u"GET"_s, u"^/drive/"_s).isEmpty());
}

// Without the repair a damaged item left `configured` false for good: no sign-in was offered.
TEST_F(Connection, DamagedTokensItemIsReportedAndASignInReplacesIt)
{
    storeSession(false);
    runSync(keychain.save("{\"accessToken\":", KeychainStore::tokensAccount()));
    auto model = makeModel();
    runSync(model->initialize());
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->connection().configured());
    EXPECT_FALSE(model->connection().connected());

    startLogin(*model);
    follow(desktop.openedUrls.last());
    ASSERT_TRUE(waitUntil([&] { return !model->connection().connecting(); }));
    EXPECT_TRUE(model->connection().connected());
    const auto stored = runSync(keychain.read(KeychainStore::tokensAccount()));
    ASSERT_TRUE(stored.has_value());
    EXPECT_NO_THROW(GoogleAuth::Tokens::fromJsonBytes(*stored));
}

TEST_F(Connection, TwoQuickClicksStartOneSignInThatEndsConnectedInMyDrive)
{
    storeSession(false);
    emulator.createFile(account.email, u"a.txt"_s, "a");
    auto model = makeModel();
    runSync(model->initialize());
    model->cloud().changeLocation(DriveLocation::Shared);
    model->setShowConnection(true);

    startLogin(*model);
    model->connection().login();
    EXPECT_TRUE(model->connection().connecting());
    EXPECT_FALSE(waitUntil([&] { return desktop.openedUrls.size() > 1; }, 200ms));

    follow(desktop.openedUrls.last());
    ASSERT_TRUE(waitUntil([&] { return !model->connection().connecting(); }));
    EXPECT_TRUE(model->connection().connected());
    EXPECT_FALSE(model->showConnection());
    EXPECT_EQ(model->cloud().location(), DriveLocation::MyDrive);
    EXPECT_EQ(model->connection().accountEmail(), account.email);
    EXPECT_EQ(names(model->cloud().cloudFiles()), QStringList{u"a.txt"_s});
    EXPECT_EQ(requests(u"POST"_s, u"^/token$"_s).size(), 1);
}

TEST_F(Connection, CancelledSignInSaysNothingAndAFailedOneSaysWhy)
{
    storeSession(false);
    auto model = makeModel();
    runSync(model->initialize());
    startLogin(*model);
    model->connection().cancelLogin();
    ASSERT_TRUE(waitUntil([&] { return !model->connection().connecting(); }));
    EXPECT_FALSE(model->connection().connectionError().has_value());
    EXPECT_FALSE(model->connection().connected());

    answerOnce(400, R"({"error":"invalid_grant"})", u"POST"_s, u"^/token$"_s);
    startLogin(*model);
    follow(desktop.openedUrls.last());
    ASSERT_TRUE(waitUntil([&] { return !model->connection().connecting(); }));
    EXPECT_EQ(model->connection().connectionError(),
              OAuthUtilities::tokenFailure(u"invalid_grant"_s, std::nullopt));
    EXPECT_FALSE(model->connection().connected());
}

TEST_F(Connection, ImportTakesOnlyADesktopClientAndNamesItsFile)
{
    auto model = makeModel();
    runSync(model->initialize());
    ASSERT_FALSE(model->connection().configured());

    const QString web = writeFile(settings.filePath(u"web.json"_s),
                                  R"({"web":{"client_id":"1-x.apps.googleusercontent.com"}})");
    desktop.answerFiles({web});
    runSync(model->connection().importConfiguration());
    EXPECT_EQ(model->connection().connectionError(),
              u"Hãy chọn file JSON của OAuth Client loại Desktop app trong Google Cloud."_s);
    EXPECT_EQ(model->connection().configurationName(), QString());
    EXPECT_FALSE(model->connection().configured());
    ASSERT_EQ(desktop.filesRequests.size(), 1);
    EXPECT_EQ(desktop.filesRequests.at(0).prompt, u"Nhập cấu hình"_s);
    EXPECT_EQ(desktop.filesRequests.at(0).mimeTypes, QStringList{u"application/json"_s});

    const QString desktopClient =
        writeFile(settings.filePath(u"client_secret_1.json"_s),
                  u"{\"installed\":{\"client_id\":\"%1\"}}"_s.arg(account.clientId).toUtf8());
    desktop.answerFiles({desktopClient});
    runSync(model->connection().importConfiguration());
    EXPECT_TRUE(model->connection().configured());
    EXPECT_EQ(model->connection().configurationName(), u"client_secret_1.json"_s);
    EXPECT_FALSE(model->connection().connectionError().has_value());
}

TEST_F(Connection, AccountTextsFallBackAndFreeSpaceNeedsTwoDecimalNumbers)
{
    auto model = signedInModel();
    const auto about = [&](const QByteArray &body) {
        answerOnce(200, body, u"GET"_s, u"^/drive/v3/about$"_s);
        runSync(model->connection().loadAccount());
    };
    about(R"({"user":{}})");
    EXPECT_EQ(model->connection().accountName(), u"Google Drive"_s);
    EXPECT_EQ(model->connection().accountEmail(), u"Đã kết nối"_s);
    EXPECT_FALSE(model->connection().cloudFreeSpace().has_value());
    about(R"({"user":{},"storageQuota":{"limit":"100","usage":"150"}})");
    EXPECT_EQ(model->connection().cloudFreeSpace(), 0);
    about(R"({"user":{},"storageQuota":{"usage":"150"}})");
    EXPECT_FALSE(model->connection().cloudFreeSpace().has_value());
    // The exact difference does not fit 64 bits.
    about(R"({"user":{},"storageQuota":{"limit":"9223372036854775807","usage":"-2"}})");
    EXPECT_EQ(model->connection().cloudFreeSpace(), std::numeric_limits<qint64>::max());

    answerOnce(500, {}, u"GET"_s, u"^/drive/v3/about$"_s);
    runSync(model->connection().loadAccount());
    EXPECT_TRUE(model->error().has_value());
}

TEST_F(Connection, SigningOutResetsAccountAndPaneAndDropsAnswersStillUnderWay)
{
    emulator.createFile(account.email, u"a.txt"_s, "a");
    auto model = signedInModel();
    DriveClient &client = model->connection().drive();
    model->cloud().setCloudSelection({model->cloud().cloudFiles().at(0).id});
    Emulator::FaultRule slow = Emulator::FaultRule::delayBy(300ms, u"GET"_s, u"^/drive/v3/"_s);
    slow.times = 2;
    emulator.addFault(slow);
    auto fetching = start(model->connection().loadAccount());
    auto listing = start(model->cloud().refreshCloud());
    ASSERT_TRUE(model->cloud().loading());

    runSync(model->connection().disconnect());
    EXPECT_FALSE(model->connection().connected());
    EXPECT_TRUE(model->connection().configured());
    EXPECT_TRUE(model->cloud().cloudSelection().isEmpty());

    ASSERT_TRUE(waitUntil([&] { return fetching->done && listing->done; }));
    EXPECT_EQ(model->connection().accountName(), u"Chưa kết nối"_s);
    EXPECT_EQ(model->connection().accountEmail(), u"Google Drive"_s);
    EXPECT_TRUE(model->cloud().cloudFiles().isEmpty());
    EXPECT_FALSE(model->cloud().loading());
    EXPECT_EQ(&model->connection().drive(), &client);
}

TEST_F(Connection, DriveClientOutlivingTheModelFailsAsCancelled)
{
    auto model = signedInModel();
    const DriveClient client = model->connection().drive();
    EXPECT_EQ(runSync(client.account()).user.emailAddress, account.email);
    model.reset();
    EXPECT_THROW(runSync(client.account()), Cancelled);
}
