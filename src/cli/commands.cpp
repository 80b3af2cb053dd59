#include "commands.h"

#include "async/async.h"
#include "auth/googleauth.h"
#include "clioutput.h"
#include "drive/driveapierror.h"
#include "net/tarnwicknetwork.h"
#include "records/byteformat.h"
#include "records/displaytext.h"
#include "records/errors.h"
#include "records/drivelinks.h"
#include "transfer/enqueue.h"
#include "transfer/queuesaver.h"
#include "transfer/savedtransfer.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace Tarnwick::Cli {

namespace {

// Thrown when a command needs a sign-in that is not there.
class NotSignedInError final : public Failure
{
public:
    explicit NotSignedInError(QString message)
        : m_message(std::move(message))
    {
    }
    QString description() const override { return m_message; }

private:
    QString m_message;
};

QCoro::Task<QString> tokenFrom(QPointer<GoogleAuth> auth, bool forceRefresh, std::stop_token stop)
{
    if (!auth)
        throw Cancelled();
    auto asking = auth->accessToken(forceRefresh, std::move(stop));
    co_return co_await asking;
}

int exitCodeFor(const std::exception &e)
{
    if (dynamic_cast<const NotSignedInError *>(&e))
        return NotSignedIn;
    if (dynamic_cast<const NetworkError *>(&e))
        return NoConnection;
    if (const auto *api = dynamic_cast<const DriveAPIError *>(&e); api && api->status() == 401)
        return NotSignedIn;
    if (dynamic_cast<const TarnwickError *>(&e)) {
        const QString message = describe(e);
        if (message == GoogleAuth::notConnectedMessage()
            || message == GoogleAuth::sessionExpiredMessage())
            return NotSignedIn;
    }
    return SomeFailed;
}

// Errors that end the whole command rather than one of its items.
bool endsCommand(const std::exception &e)
{
    return exitCodeFor(e) != SomeFailed;
}

QString myDrive()
{
    return u"Drive của tôi"_s;
}

// "/Drive của tôi/a/b" for the path "a/b".
QString displayPath(const QString &path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    return (u'/' + myDrive() + u'/' + parts.join(u'/')).chopped(parts.isEmpty() ? 1 : 0);
}

QJsonObject itemJson(const DriveFile &file)
{
    QJsonObject item{{u"id"_s, file.id},
                     {u"name"_s, file.name},
                     {u"folder"_s, file.isFolder()},
                     {u"size"_s, file.bytes()}};
    if (file.mimeType)
        item.insert(u"mimeType"_s, *file.mimeType);
    if (file.modifiedDate().isValid())
        item.insert(u"modified"_s, file.modifiedDate().toString(Qt::ISODate));
    return item;
}

QCoro::Task<bool> continueIntoFolder(QString)
{
    // As the window's default answer: go on into it, skipping the files already whole.
    co_return true;
}

} // namespace

Commands::Commands(Options options, KeychainStore keychain, Output &output, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_output(output)
    , m_auth(new GoogleAuth(TarnwickNetwork::session(), std::move(keychain), this))
    , m_drive(TarnwickNetwork::session(),
              [auth = QPointer<GoogleAuth>(m_auth)](bool forceRefresh, std::stop_token stop) {
                  return tokenFrom(auth, forceRefresh, std::move(stop));
              })
{
}

Commands::~Commands()
{
    m_stop.request_stop();
    // The runs stop with the queue; the sign-in after them.
    delete m_queue;
}

TransferQueue &Commands::queue()
{
    if (!m_queue) {
        if (!m_lock.tryLock())
            throw TarnwickError(u"Cửa sổ Tarnwick hoặc một tarnwick-cli khác đang chạy hàng đợi. "
                                "Hãy đợi nó xong hoặc đóng nó rồi thử lại."_s);
        m_queue = new TransferQueue(m_drive, m_output, [this] { return m_auth->connected(); }, this);
        // Saves keep what the saved queue holds, also what this command does not touch.
        m_queue->holdUnrestored();
        m_output.watch(m_queue);
        // A full Drive or the day's upload cap: the uploads stay paused for "resume", once told why.
        connect(m_queue, &TransferQueue::writesHeld, this, [this](const QString &message) {
            m_output.event(u"writesHeld"_s, {{u"message"_s, message}});
            m_output.line(message);
        });
    }
    return *m_queue;
}

QCoro::Task<int> Commands::dispatch()
{
    const QString &c = m_options.command;
    if (c == u"login"_s)
        return login();
    if (c == u"logout"_s)
        return logout();
    if (c == u"whoami"_s)
        return whoami();
    if (c == u"ls"_s)
        return list();
    if (c == u"mkdir"_s)
        return makeFolder();
    if (c == u"put"_s)
        return put();
    if (c == u"get"_s)
        return get();
    if (c == u"queue"_s)
        return showQueue();
    if (c == u"resume"_s)
        return resume();
    return trash();
}

QCoro::Task<int> Commands::run()
{
    QPointer<Commands> self(this);
    int code = AllDone;
    std::optional<QString> failure;
    try {
        auto running = dispatch();
        code = co_await running;
    } catch (const Cancelled &) {
        code = Interrupted;
    } catch (const std::exception &e) {
        failure = DisplayText::message(describe(e));
        code = exitCodeFor(e);
    }
    if (!self)
        co_return Interrupted;
    if (failure)
        m_output.error(*failure);
    if (m_interrupted)
        code = Interrupted;
    if (m_queue) {
        // A save still waiting for its delay would be lost with the process.
        if (m_interrupted)
            m_queue->saver().saveNow();
        else
            m_queue->saver().flush();
    }
    co_return code;
}

void Commands::interrupt()
{
    m_interrupted = true;
    m_auth->cancelLogin();
    if (!m_queue) {
        m_stop.request_stop();
        return;
    }
    // Paused, not cancelled: part files, upload sessions and checkpoints stay for "resume".
    m_queue->pauseAll();
    m_queue->saver().saveNow();
    m_output.line(u"Đã tạm dừng và lưu hàng đợi. Chạy \"tarnwick-cli resume\" để tiếp tục; "
                  "nhấn Ctrl+C lần nữa để thoát ngay."_s);
}

void Commands::quitNow()
{
    // Written whole (temporary file, renamed over): the next start finds this or the last one.
    if (m_queue)
        m_queue->saver().saveNow();
    m_output.finish();
    std::_Exit(Interrupted);
}

QCoro::Task<> Commands::requireSignIn()
{
    auto restoring = m_auth->restore();
    co_await restoring;
    if (!m_auth->configured())
        throw NotSignedInError(GoogleAuth::notConfiguredMessage());
    if (!m_auth->connected())
        throw NotSignedInError(u"Chưa đăng nhập Google Drive. Hãy chạy \"tarnwick-cli login\"."_s);
}

QCoro::Task<int> Commands::login()
{
    auto restoring = m_auth->restore();
    co_await restoring;
    if (m_options.configFile) {
        QFile file(*m_options.configFile);
        if (!file.open(QIODevice::ReadOnly))
            throw SystemError(file.errorString());
        // A client JSON is a few hundred bytes.
        auto configuring = m_auth->configure(file.read(1 << 20));
        co_await configuring;
    }
    if (!m_auth->configured())
        throw NotSignedInError(GoogleAuth::notConfiguredMessage());
    const bool browser = !m_options.noBrowser;
    Output *output = &m_output;
    auto open = [output, browser](const QUrl &url) {
        const QString link = url.toString(QUrl::FullyEncoded);
        output->line(u"Mở liên kết này trong trình duyệt để đăng nhập:"_s);
        output->line(link);
        output->event(u"signin-link"_s, {{u"url"_s, link}});
        if (browser && !QProcess::startDetached(u"xdg-open"_s, {link}))
            output->line(u"Không mở được trình duyệt; hãy tự mở liên kết trên."_s);
    };
    auto signingIn = m_auth->login(open, m_stop.get_token());
    co_await signingIn;
    auto asking = m_drive.account(m_stop.get_token());
    const DriveAccount account = co_await asking;
    const QString email = account.user.emailAddress.value_or(QString());
    m_output.line(u"Đã đăng nhập: "_s + DisplayText::shown(email));
    m_output.event(u"signed-in"_s, {{u"email"_s, email}});
    co_return AllDone;
}

QCoro::Task<int> Commands::logout()
{
    auto restoring = m_auth->restore();
    co_await restoring;
    if (!m_auth->connected()) {
        m_output.line(u"Chưa đăng nhập."_s);
        co_return AllDone;
    }
    auto leaving = m_auth->disconnect();
    co_await leaving;
    m_output.line(u"Đã đăng xuất."_s);
    m_output.event(u"signed-out"_s, {});
    co_return AllDone;
}

QCoro::Task<int> Commands::whoami()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    auto asking = m_drive.account(m_stop.get_token());
    const DriveAccount account = co_await asking;
    const QString name = account.user.displayName.value_or(QString());
    const QString email = account.user.emailAddress.value_or(QString());
    m_output.line(u"Tên: "_s + DisplayText::shown(name));
    m_output.line(u"E-mail: "_s + DisplayText::shown(email));
    QJsonObject fields{{u"name"_s, name}, {u"email"_s, email}};
    if (account.storageQuota && account.storageQuota->usage) {
        const qint64 usage = account.storageQuota->usage->toLongLong();
        QString quota = formatByteCount(usage);
        fields.insert(u"usage"_s, usage);
        if (account.storageQuota->limit) {
            const qint64 limit = account.storageQuota->limit->toLongLong();
            quota += u" / "_s + formatByteCount(limit);
            fields.insert(u"limit"_s, limit);
        }
        m_output.line(u"Dung lượng đã dùng: "_s + quota);
    }
    m_output.event(u"account"_s, fields);
    co_return AllDone;
}

QCoro::Task<DriveFile> Commands::resolve(QString path)
{
    DriveFile current(u"root"_s, myDrive(), QString(DriveFile::folderMimeType));
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        auto listing = m_drive.list(current.id, false, m_stop.get_token());
        const QList<DriveFile> children = co_await listing;
        const bool last = i == parts.size() - 1;
        QList<DriveFile> matches;
        for (const DriveFile &child : children) {
            if (child.name == parts[i] && (last || child.isFolder()))
                matches.append(child);
        }
        if (matches.isEmpty())
            throw TarnwickError(u"Không tìm thấy "_s + DisplayText::shown(displayPath(path))
                                + u" trên Drive."_s);
        // Drive allows one name twice in a folder: acting on a guess could take the wrong one.
        if (matches.size() > 1)
            throw TarnwickError(u"Có "_s + QString::number(matches.size()) + u" mục cùng tên \""_s
                                + DisplayText::shown(parts[i])
                                + u"\" trong thư mục này; hãy dùng ID của mục cần lấy."_s);
        current = matches.first();
    }
    co_return current;
}

QCoro::Task<int> Commands::list()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    QList<DriveFile> items;
    if (m_options.shared) {
        auto listing = m_drive.list(QString(), true, m_stop.get_token());
        items = co_await listing;
    } else if (m_options.sharedDrive) {
        auto finding = m_drive.sharedDrives(m_stop.get_token());
        const QList<DriveFile> drives = co_await finding;
        const auto found = std::find_if(drives.cbegin(), drives.cend(), [&](const DriveFile &d) {
            return d.name == *m_options.sharedDrive;
        });
        if (found == drives.cend())
            throw TarnwickError(u"Không có bộ nhớ dùng chung tên \""_s
                                + DisplayText::shown(*m_options.sharedDrive) + u"\"."_s);
        auto listing = m_drive.list(found->id, false, m_stop.get_token());
        items = co_await listing;
    } else {
        const QString path = m_options.arguments.value(0, u"/"_s);
        auto resolving = resolve(path);
        const DriveFile folder = co_await resolving;
        if (!folder.isFolder()) {
            items = {folder};
        } else {
            auto listing = m_drive.list(folder.id, false, m_stop.get_token());
            items = co_await listing;
        }
    }
    for (const DriveFile &file : std::as_const(items)) {
        m_output.event(u"item"_s, itemJson(file));
        const QString name = DisplayText::shown(file.name) + (file.isFolder() ? u"/"_s : QString());
        if (!m_options.longList) {
            m_output.line(name);
            continue;
        }
        const QString size = file.isFolder() ? u"thư mục"_s
                             : file.isGoogleDocument() ? u"tài liệu Google"_s
                                                       : formatByteCount(file.bytes());
        const QDateTime modified = file.modifiedDate();
        const QString date =
            modified.isValid() ? modified.toLocalTime().toString(u"yyyy-MM-dd HH:mm"_s) : u"-"_s;
        m_output.line(size.rightJustified(16) + u"  "_s + date.rightJustified(16) + u"  "_s
                      + DisplayText::shown(file.id).leftJustified(33) + u"  "_s + name);
    }
    co_return AllDone;
}

QCoro::Task<int> Commands::makeFolder()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    const QString path = m_options.arguments.first();
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        throw UsageError{u"Hãy ghi tên thư mục cần tạo."_s};
    const QString name = parts.takeLast();
    auto resolving = resolve(parts.join(u'/'));
    const DriveFile parent = co_await resolving;
    if (!parent.isFolder())
        throw TarnwickError(DisplayText::shown(displayPath(parts.join(u'/')))
                            + u" không phải thư mục."_s);
    auto listing = m_drive.list(parent.id, false, m_stop.get_token());
    const QList<DriveFile> children = co_await listing;
    for (const DriveFile &child : children) {
        if (child.name == name && child.isFolder())
            throw TarnwickError(u"Đã có thư mục "_s + DisplayText::shown(displayPath(path)) + u'.');
    }
    auto creating = m_drive.createFolder(name, parent.id, m_stop.get_token());
    const DriveFile created = co_await creating;
    m_output.line(u"Đã tạo thư mục: "_s + DisplayText::shown(displayPath(path)));
    m_output.event(u"created"_s, itemJson(created));
    co_return AllDone;
}

QCoro::Task<int> Commands::trash()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    const QString path = m_options.arguments.first();
    if (path.split(u'/', Qt::SkipEmptyParts).isEmpty())
        throw UsageError{u"Không thể chuyển cả Drive của tôi vào thùng rác."_s};
    auto resolving = resolve(path);
    const DriveFile file = co_await resolving;
    auto trashing = m_drive.trash(file, m_stop.get_token());
    co_await trashing;
    m_output.line(u"Đã chuyển vào thùng rác: "_s + DisplayText::shown(displayPath(path)));
    m_output.event(u"trashed"_s, itemJson(file));
    co_return AllDone;
}

QCoro::Task<int> Commands::put()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    QStringList sources = m_options.arguments;
    const QString target = sources.takeLast();
    auto resolving = resolve(target);
    const DriveFile folder = co_await resolving;
    if (!folder.isFolder())
        throw TarnwickError(DisplayText::shown(displayPath(target)) + u" không phải thư mục."_s);
    int failed = 0;
    QStringList paths;
    for (const QString &source : std::as_const(sources)) {
        const QFileInfo info(source);
        if (!info.exists() && !info.isSymLink()) {
            m_output.error(u"Không có "_s + DisplayText::shown(source) + u" trên máy."_s);
            ++failed;
            continue;
        }
        paths.append(info.absoluteFilePath());
    }
    QSet<QUuid> ids;
    TransferQueue &q = queue();
    for (const Transfer &transfer : Enqueue::uploads(paths, folder.id, displayPath(target))) {
        ids.insert(transfer.id);
        q.append(transfer);
    }
    auto finishing = finishTransfers(ids, failed);
    co_return co_await finishing;
}

QCoro::Task<DriveFile> Commands::resolveSource(QString argument)
{
    const bool link = argument.startsWith(u"http://"_s) || argument.startsWith(u"https://"_s);
    const std::optional<QString> id = DriveLinks::parseDriveID(argument);
    if (link && !id)
        throw TarnwickError(u"Không nhận diện được liên kết Google Drive: "_s
                            + DisplayText::shown(argument));
    if (id && (link || !argument.contains(u'/'))) {
        std::exception_ptr missing;
        try {
            auto looking = m_drive.file(*id, m_stop.get_token());
            co_return co_await looking;
        } catch (const DriveAPIError &e) {
            if (e.status() != 404)
                throw;
            missing = std::current_exception();
        }
        // A bare word that is no ID there may still be a name in My Drive.
        if (link)
            throw TarnwickError(u"Không tìm thấy file hoặc thư mục của liên kết này. Có thể nó "
                                "đã bị xoá, hoặc tài khoản đang kết nối không được chia sẻ."_s);
    }
    auto resolving = resolve(argument);
    co_return co_await resolving;
}

QCoro::Task<int> Commands::get()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    QStringList sources = m_options.arguments;
    const QString folder = QFileInfo(sources.takeLast()).absoluteFilePath();
    if (!QDir().mkpath(folder))
        throw TarnwickError(u"Không tạo được thư mục "_s + DisplayText::shown(folder) + u'.');
    int failed = 0;
    QSet<QUuid> ids;
    TransferQueue &q = queue();
    QSet<QString> reserved = Enqueue::takenNames(q, folder);
    for (const QString &source : std::as_const(sources)) {
        DriveFile file;
        std::optional<QString> problem;
        try {
            auto resolving = resolveSource(source);
            file = co_await resolving;
        } catch (const Cancelled &) {
            throw;
        } catch (const std::exception &e) {
            if (endsCommand(e))
                throw;
            problem = DisplayText::message(describe(e));
        }
        if (!problem && file.isGoogleDocument())
            problem = DisplayText::shown(file.name)
                      + u" là tài liệu Google, không tải về được; hãy mở nó trong trình duyệt."_s;
        if (problem) {
            m_output.error(*problem);
            ++failed;
            continue;
        }
        const bool existingFolder = file.isFolder() && QFileInfo(QDir(folder).filePath(file.name)).isDir();
        auto choosing = Enqueue::destination(&q, file, folder, &reserved, continueIntoFolder);
        const QString destination = co_await choosing;
        if (existingFolder && destination == QDir(folder).filePath(file.name))
            m_output.line(u"Tải tiếp vào thư mục đã có: "_s + DisplayText::shown(destination));
        const QString cloudPath = source.contains(u'/') && !source.startsWith(u"http"_s)
                                      ? displayPath(source).section(u'/', 0, -2)
                                      : QString();
        const Transfer transfer = Enqueue::download(file, destination, cloudPath);
        ids.insert(transfer.id);
        q.append(transfer);
    }
    auto finishing = finishTransfers(ids, failed);
    co_return co_await finishing;
}

QCoro::Task<int> Commands::showQueue()
{
    const QList<SavedTransfer> saved = TransferStore::load();
    if (saved.isEmpty())
        m_output.line(u"Không có tác vụ nào đang được lưu."_s);
    for (const SavedTransfer &t : saved) {
        const bool upload = t.source.has_value();
        const QString state = t.failure ? u"lỗi"_s : u"chưa xong"_s;
        QString amount = formatByteCount(t.done);
        if (t.total > 0)
            amount += u" / "_s + formatByteCount(t.total);
        m_output.line((upload ? u"↑ "_s : u"↓ "_s) + DisplayText::shown(t.name) + u"  "_s + state
                      + u" · "_s + amount + u"  "_s + DisplayText::shown(t.sourcePath) + u" → "_s
                      + DisplayText::shown(t.destinationPath));
        QJsonObject fields{{u"id"_s, t.id.toString(QUuid::WithoutBraces)},
                           {u"name"_s, t.name},
                           {u"direction"_s, upload ? u"upload"_s : u"download"_s},
                           {u"done"_s, t.done},
                           {u"total"_s, t.total},
                           {u"source"_s, t.sourcePath},
                           {u"destination"_s, t.destinationPath}};
        if (t.failure)
            fields.insert(u"message"_s, *t.failure);
        m_output.event(u"saved"_s, fields);
    }
    co_return AllDone;
}

QCoro::Task<int> Commands::resume()
{
    auto signingIn = requireSignIn();
    co_await signingIn;
    TransferQueue &q = queue();
    q.restoreSaved();
    QSet<QUuid> ids;
    for (const Transfer &t : q.transfers())
        ids.insert(t.id);
    if (ids.isEmpty()) {
        m_output.line(u"Không có tác vụ nào để tiếp tục."_s);
        co_return AllDone;
    }
    // Failed ones are retried too: from the command line "resume" means all that is unfinished.
    for (const Transfer &t : q.failedTransfers())
        q.resumeTransfer(t.id);
    q.resumeRestored();
    auto finishing = finishTransfers(ids, 0);
    co_return co_await finishing;
}

QCoro::Task<int> Commands::finishTransfers(QSet<QUuid> ids, int failedBefore)
{
    QPointer<Commands> self(this);
    TransferQueue &q = queue();
    q.startRuns();
    while (self && !m_interrupted && q.activeRuns() > 0) {
        Wakeup wakeup(m_stop.get_token());
        wakeup.on(m_queue, &TransferQueue::allRunsEnded);
        co_await wakeup;
    }
    // Paused by Ctrl+C: the runs wind down before the queue is saved for the last time.
    while (self && m_interrupted && q.activeRuns() > 0) {
        Wakeup wakeup({});
        wakeup.on(m_queue, &TransferQueue::allRunsEnded);
        co_await wakeup;
    }
    if (!self || m_interrupted)
        co_return Interrupted;
    int done = 0;
    int failed = failedBefore;
    for (const Transfer &t : q.transfers()) {
        if (!ids.contains(t.id))
            continue;
        if (t.state == TransferState::Done)
            ++done;
        else
            ++failed;
    }
    const int code = failed > 0 ? SomeFailed : AllDone;
    m_output.event(u"summary"_s, {{u"done"_s, done}, {u"failed"_s, failed}, {u"exitCode"_s, code}});
    if (failed > 0)
        m_output.line(QString::number(failed) + u" tác vụ chưa xong."_s);
    co_return code;
}

} // namespace Tarnwick::Cli
