#include "modeltesting.h"

#include "transfer/savedtransfer.h"

#include <QFile>

#include "support/testsupport.h"

#include "net/endpoints.h"
#include "auth/googleauth.h"
#include "net/httpengine.h"
#include "auth/oauthconfiguration.h"
#include "async/runsync.h"
#include "net/tarnwicknetwork.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace Tarnwick::Testing {

namespace {

QCoro::Task<> browse(QUrl url)
{
    HttpRequest consent;
    consent.url = url;
    const HttpResponse approval = co_await TarnwickNetwork::session().send(consent);
    HttpRequest back;
    back.url = QUrl(QString::fromUtf8(approval.header("Location")));
    co_await TarnwickNetwork::session().send(back);
}

} // namespace

ModelTest::ModelTest()
    : keychain(u"com.tarnwick.test."_s + QUuid::createUuid().toString(QUuid::Id128))
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings().clear();
    // A queue saved by an earlier test of this process must not come back in this one.
    QFile::remove(TransferStore::fileURL());
    emulator.start();
    account = emulator.addTestAccount();
    Endpoints::setCurrent(Endpoints::withBase(QUrl(emulator.baseUrl())));
}

ModelTest::~ModelTest()
{
    Endpoints::setCurrent(Endpoints::defaults());
    runSync(keychain.remove(KeychainStore::tokensAccount()));
    runSync(keychain.remove(KeychainStore::configurationAccount()));
    QSettings().clear();
}

void ModelTest::storeSession(bool withTokens, const QString &tokenClient)
{
    runSync(keychain.save(OAuthConfiguration{account.clientId, account.clientSecret}.toJsonBytes(),
                          KeychainStore::configurationAccount()));
    if (!withTokens)
        return;
    const GoogleAuth::Tokens tokens{account.accessToken, account.refreshToken,
                                    clock.now().addSecs(3600),
                                    tokenClient.isEmpty() ? account.clientId : tokenClient};
    runSync(keychain.save(tokens.toJsonBytes(), KeychainStore::tokensAccount()));
}

std::unique_ptr<AppModel> ModelTest::makeModel()
{
    auto model = std::make_unique<AppModel>(&desktop, keychain);
    model->connection().auth().setBundledConfigurationPath(settings.filePath(u"none.json"_s));
    return model;
}

std::unique_ptr<AppModel> ModelTest::signedInModel()
{
    storeSession();
    auto model = makeModel();
    runSync(model->initialize());
    EXPECT_TRUE(model->connection().connected());
    EXPECT_FALSE(model->error().has_value()) << model->error()->toStdString();
    emulator.clearRequestLog();
    return model;
}

QList<Emulator::RequestRecord> ModelTest::requests(const QString &method, const QString &path) const
{
    const QRegularExpression pattern(path);
    QList<Emulator::RequestRecord> matching;
    for (const Emulator::RequestRecord &record : emulator.requestLog()) {
        if (record.method == method && pattern.match(record.path).hasMatch())
            matching.append(record);
    }
    return matching;
}

void ModelTest::answerOnce(int status, const QByteArray &body, const QString &method,
                           const QString &path)
{
    Emulator::FaultRule rule = Emulator::FaultRule::respond(status, method, path);
    rule.body = body;
    emulator.addFault(rule);
}

void ModelTest::follow(const QUrl &url)
{
    runSync(browse(url));
}

QStringList ModelTest::names(const QList<DriveFile> &files)
{
    QStringList out;
    for (const DriveFile &file : files)
        out.append(file.name);
    return out;
}

} // namespace Tarnwick::Testing
