#include "driveemulator_p.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "state/driveids.h"
#include "server/emulatorserver.h"
#include "state/emulatorstate.h"
#include "faults/faultinjector.h"
#include "state/generatedcontent.h"
#include "server/requestlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <condition_variable>
#include <stdexcept>
#include <thread>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QString driveScope = u"https://www.googleapis.com/auth/drive"_s;

QJsonObject parseWorld(const QByteArray &json, const QString &what)
{
    if (json.trimmed().isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw std::runtime_error((what + u": "_s + error.errorString() + u" at offset "_s +
                                  QString::number(error.offset))
                                     .toStdString());
    return doc.object();
}

} // namespace

DriveEmulator::DriveEmulator()
    : DriveEmulator(Options())
{
}

DriveEmulator::DriveEmulator(Options options)
    : d(std::make_unique<Private>(std::move(options)))
{
    const Options &o = d->options;
    d->store = std::make_unique<ContentStore>(
        o.dataDir.isEmpty() ? QString() : QDir(o.dataDir).filePath(u"content"_s));
    if (!d->store->isValid())
        throw std::runtime_error("cannot create the content folder");
    d->state = std::make_unique<EmulatorState>(*d->store);
    if (!o.seedFile.isEmpty()) {
        QFile file(o.seedFile);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error((u"cannot read seed "_s + o.seedFile).toStdString());
        d->seed = parseWorld(file.readAll(), o.seedFile);
        d->seedDir = QFileInfo(o.seedFile).absolutePath();
    } else {
        d->seed = parseWorld(o.seedJson, u"seed"_s);
        d->seedDir = QDir::currentPath();
    }
    if (!o.dataDir.isEmpty() && QFileInfo::exists(d->statePath())) {
        QFile file(d->statePath());
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read saved state");
        d->state->load(parseWorld(file.readAll(), d->statePath()), o.dataDir);
        d->addStaticTokens();
        d->store->removeAllExcept(d->state->storedFiles());
    } else {
        d->loadSeed();
    }
    d->server =
        std::make_unique<EmulatorServer>(*d->state, *d->store, d->faults, d->limits, d->log);
    d->server->setAutoConsent(o.autoConsent);
    d->server->setVerbose(o.verbose);
    if (o.control)
        installControl();
}

DriveEmulator::~DriveEmulator()
{
    stop();
    d->save();
}

void DriveEmulator::start()
{
    start(d->options.port);
}

void DriveEmulator::start(quint16 port)
{
    d->server->start(port);
    d->save();
    d->startSaver();
}

void DriveEmulator::stop()
{
    d->server->stop();
    d->stopSaver();
    d->save();
}

bool DriveEmulator::isRunning() const
{
    return d->server->isRunning();
}
quint16 DriveEmulator::port() const
{
    return d->server->port();
}
QString DriveEmulator::baseUrl() const
{
    return d->server->baseUrl();
}

void DriveEmulator::reset()
{
    d->loadSeed();
}

void DriveEmulator::reseed(const QByteArray &seedJson)
{
    d->seed = parseWorld(seedJson, u"seed"_s);
    d->loadSeed();
}

QJsonObject DriveEmulator::stateJson() const
{
    return d->state->save();
}

TestAccount DriveEmulator::addTestAccount(const QString &email, const QString &displayName,
                                          std::optional<qint64> quotaLimit)
{
    if (!d->state->user(email) || quotaLimit)
        addUser(email, displayName, quotaLimit);
    TestAccount account;
    const auto user = d->state->user(email);
    account.email = user->email;
    account.displayName = user->displayName;
    account.clientId = DriveIds::stableFileId(u"client:"_s + email).mid(1, 12).toLower() +
                       u"-tarnwick.apps.googleusercontent.com"_s;
    account.clientSecret = u"GOCSPX-"_s + DriveIds::stableFileId(u"secret:"_s + email).mid(1, 28);
    if (!d->state->client(account.clientId))
        addOAuthClient(account.clientId, account.clientSecret);
    account.accessToken = d->state->issueAccessToken(account.email, account.clientId, driveScope);
    account.refreshToken = d->state->issueRefreshToken(account.email, account.clientId, driveScope);
    account.rootFolderId = user->rootId;
    return account;
}

void DriveEmulator::addUser(const QString &email, const QString &displayName,
                            std::optional<qint64> quotaLimit, qint64 otherUsage)
{
    EmulatorState::User u;
    u.email = email;
    u.displayName = displayName;
    u.quotaLimit = quotaLimit;
    u.otherUsage = otherUsage;
    d->state->addUser(u);
}

void DriveEmulator::addOAuthClient(const QString &clientId, const QString &clientSecret,
                                   bool testing, const QStringList &testUsers)
{
    EmulatorState::OAuthClient c;
    c.clientId = clientId;
    c.clientSecret = clientSecret;
    c.testing = testing;
    c.testUsers = testUsers;
    d->state->addClient(c);
}

QString DriveEmulator::issueAccessToken(const QString &email, std::chrono::seconds lifetime,
                                        const QString &scope)
{
    if (!d->state->user(email))
        throw std::invalid_argument("unknown user");
    return d->state->issueAccessToken(email, {}, scope, lifetime.count());
}

QString DriveEmulator::issueRefreshToken(const QString &email, const QString &clientId)
{
    return d->state->issueRefreshToken(email, clientId, driveScope);
}

bool DriveEmulator::expireAccessToken(const QString &token)
{
    return d->state->expireAccessToken(token);
}
void DriveEmulator::expireAllAccessTokens()
{
    d->state->expireAllAccessTokens();
}
bool DriveEmulator::revokeToken(const QString &token)
{
    return d->state->revokeToken(token);
}
void DriveEmulator::revokeAllRefreshTokens()
{
    d->state->revokeAllRefreshTokens();
}

void DriveEmulator::setAccessTokenLifetime(std::chrono::seconds lifetime)
{
    d->state->applySettingsJson(QJsonObject{{u"accessTokenLifetime"_s, qint64(lifetime.count())}});
}

void DriveEmulator::advanceClock(std::chrono::milliseconds by)
{
    d->state->advanceClock(by);
    d->limits.advance(by);
}
QDateTime DriveEmulator::now() const
{
    return d->state->now();
}

QString DriveEmulator::rootFolderId(const QString &email) const
{
    return d->state->rootIdOf(email);
}

QString DriveEmulator::createFolder(const QString &email, const QString &name,
                                    const QString &parentId)
{
    return d->insert(email, name, u"application/vnd.google-apps.folder"_s, parentId, nullptr);
}

QString DriveEmulator::createFile(const QString &email, const QString &name,
                                  const QByteArray &content, const QString &parentId,
                                  const QString &mimeType)
{
    return d->insert(email, name, mimeType, parentId, d->store->write(content));
}

QString DriveEmulator::createGeneratedFile(const QString &email, const QString &name, qint64 size,
                                           quint64 seed, const QString &parentId,
                                           const QString &mimeType)
{
    return d->insert(email, name, mimeType, parentId, ContentBlob::generated(seed, size));
}

QString DriveEmulator::createGoogleDocument(const QString &email, const QString &name,
                                            const QString &parentId, const QString &type)
{
    return d->insert(email, name, u"application/vnd.google-apps."_s + type, parentId, nullptr);
}

QString DriveEmulator::createShortcut(const QString &email, const QString &name,
                                      const QString &targetId, const QString &parentId)
{
    return d->insert(email, name, u"application/vnd.google-apps.shortcut"_s, parentId, nullptr,
                     targetId);
}

QString DriveEmulator::createSharedDrive(const QString &name,
                                         const QList<QPair<QString, QString>> &members)
{
    EmulatorState::SharedDrive drive;
    drive.id = DriveIds::newDriveId();
    drive.name = name;
    for (const auto &[email, role] : members) {
        const auto u = d->state->user(email);
        drive.members.append(EmulatorState::Permission{
            u ? u->permissionId : DriveIds::stablePermissionId(email.toLower()),
            u"user"_s,
            role,
            email,
            {},
            false,
            d->state->now()});
    }
    d->state->insertDrive(drive);
    return drive.id;
}

void DriveEmulator::share(const QString &itemId, const QString &email, const QString &role)
{
    EmulatorState::Permission p;
    p.role = role;
    if (email.isEmpty()) {
        p.type = u"anyone"_s;
        p.id = u"anyoneWithLink"_s;
    } else {
        const auto u = d->state->user(email);
        p.type = u"user"_s;
        p.emailAddress = u ? u->email : email;
        p.id = u ? u->permissionId : DriveIds::stablePermissionId(email.toLower());
    }
    try {
        d->state->addPermissionDirect(itemId, p);
    } catch (const ApiError &) {
        throw std::invalid_argument("unknown item");
    }
}

void DriveEmulator::trash(const QString &itemId)
{
    auto item = d->state->item(itemId);
    if (!item)
        throw std::invalid_argument("unknown item");
    item->explicitlyTrashed = true;
    item->trashedTime = d->state->now();
    d->state->insertItem(*item);
}

bool DriveEmulator::exists(const QString &id) const
{
    return d->state->item(id).has_value();
}

std::optional<QJsonObject> DriveEmulator::itemMetadata(const QString &id, const QString &asUser,
                                                       const QString &fields) const
{
    const auto item = d->state->item(id);
    if (!item)
        return std::nullopt;
    QString who = asUser;
    if (who.isEmpty())
        who = item->owner.isEmpty() ? d->state->defaultUser() : item->owner;
    try {
        return d->state->getFile(d->as(who), id, true,
                                 FieldSelection::parse(fields, Schemas::file()));
    } catch (const ApiError &) {
        return std::nullopt;
    }
}

QStringList DriveEmulator::childIds(const QString &parentId) const
{
    QStringList out;
    for (const auto &child : d->state->children(parentId))
        out.append(child.id);
    return out;
}

QString DriveEmulator::findChild(const QString &parentId, const QString &name) const
{
    for (const auto &child : d->state->children(parentId))
        if (child.name == name)
            return child.id;
    return {};
}

QByteArray DriveEmulator::content(const QString &id) const
{
    const auto item = d->state->item(id);
    if (!item)
        throw std::invalid_argument("unknown item");
    return item->content ? item->content->readAll() : QByteArray();
}

QString DriveEmulator::contentSha256(const QString &id) const
{
    const auto item = d->state->item(id);
    if (!item)
        throw std::invalid_argument("unknown item");
    return item->content ? item->content->sha256Hex()
                         : u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s;
}

QString DriveEmulator::contentMd5(const QString &id) const
{
    const auto item = d->state->item(id);
    if (!item)
        throw std::invalid_argument("unknown item");
    return item->content ? item->content->md5Hex() : u"d41d8cd98f00b204e9800998ecf8427e"_s;
}

qint64 DriveEmulator::usage(const QString &email) const
{
    return d->state->usageOf(email);
}

void DriveEmulator::setQuota(const QString &email, std::optional<qint64> limit, qint64 otherUsage)
{
    auto user = d->state->user(email);
    if (!user)
        throw std::invalid_argument("unknown user");
    user->quotaLimit = limit;
    user->otherUsage = otherUsage;
    d->state->addUser(*user);
}

int DriveEmulator::addFault(const FaultRule &rule)
{
    return d->faults.add(rule);
}
bool DriveEmulator::removeFault(int id)
{
    return d->faults.remove(id);
}
void DriveEmulator::clearFaults()
{
    d->faults.clear();
}
QList<FaultRule> DriveEmulator::faults() const
{
    return d->faults.rules();
}
int DriveEmulator::faultFired(int id) const
{
    return d->faults.fired(id);
}
void DriveEmulator::setFaultRandomSeed(quint64 seed)
{
    d->faults.setRandomSeed(seed);
}
QList<RequestRecord> DriveEmulator::requestLog(qint64 after) const
{
    return d->log.entries(after);
}
void DriveEmulator::clearRequestLog()
{
    d->log.clear();
}

void DriveEmulator::setLimits(const LimitSettings &limits)
{
    d->limits.setSettings(limits);
}
LimitSettings DriveEmulator::limits() const
{
    return d->limits.settings();
}
void DriveEmulator::resetLimits()
{
    d->limits.reset();
}
QJsonObject DriveEmulator::limitCounters() const
{
    return d->limits.counters();
}

QStringList DriveEmulator::uploadSessionIds() const
{
    return d->state->uploadSessionIds();
}

qint64 DriveEmulator::uploadSessionReceived(const QString &uploadId) const
{
    return d->state->uploadSessionReceived(uploadId);
}

bool DriveEmulator::expireUploadSession(const QString &uploadId, int status)
{
    return d->state->expireUploadSession(uploadId, status);
}

void DriveEmulator::expireAllUploadSessions(int status)
{
    d->state->expireAllUploadSessions(status);
}

void DriveEmulator::setListingPages(bool trailingEmptyPage, int shortPageEvery, int emptyPageEvery)
{
    d->state->applySettingsJson(QJsonObject{{u"trailingEmptyPage"_s, trailingEmptyPage},
                                            {u"shortPageEvery"_s, shortPageEvery},
                                            {u"emptyPageEvery"_s, emptyPageEvery}});
}

void DriveEmulator::setEndlessPages(bool endless)
{
    d->state->applySettingsJson(QJsonObject{{u"endlessPages"_s, endless}});
}

void DriveEmulator::setUploadCompleteStatus(int status)
{
    d->state->applySettingsJson(QJsonObject{{u"uploadCompleteStatus"_s, status}});
}

void DriveEmulator::setUpdateManifest(const QByteArray &json)
{
    d->state->setManifest(json);
}

QList<DriveEmulator::Notification> DriveEmulator::notifications() const
{
    QList<Notification> out;
    for (const auto &n : d->state->notifications())
        out.append(Notification{n.from, n.to, n.fileId, n.role, n.message});
    return out;
}

void DriveEmulator::clearNotifications()
{
    d->state->clearNotifications();
}

QByteArray DriveEmulator::generatedBytes(quint64 seed, qint64 offset, qint64 length)
{
    return GeneratedContent::bytes(seed, offset, length);
}

QString DriveEmulator::tokenFingerprint(const QString &token)
{
    return RequestRecord::fingerprintOf(token);
}

} // namespace Tarnwick::Emulator
