#include "auth/keychainstore.h"

#include "async/async.h"
#include "records/errors.h"
#include "auth/keychainlock.h"

#include <qt6keychain/keychain.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

struct JobDeleter
{
    void operator()(QKeychain::Job *job) const { job->deleteLater(); }
};
template<typename Job> using JobPtr = std::unique_ptr<Job, JobDeleter>;

template<typename Job> JobPtr<Job> makeJob(const QString &service, const QString &account)
{
    JobPtr<Job> job(new Job(service));
    job->setKey(account);
    // Some builds would otherwise write the secret into a plain settings file when no secret
    // service answers.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    return job;
}

// Runs the job and resumes once it finished; the job's error() tells the outcome.
QCoro::Task<> run(QKeychain::Job *job)
{
    Wakeup wakeup({});
    wakeup.on(job, &QKeychain::Job::finished);
    job->start();
    co_await wakeup;
}

} // namespace

int KeychainStore::lockedCode()
{
    return QKeychain::AccessDenied;
}

QString KeychainStore::readFailure(int code)
{
    return u"Không đọc được phiên đăng nhập từ kho mật khẩu (%1)."_s.arg(code);
}

QString KeychainStore::addFailure(int code)
{
    return u"Không lưu được phiên đăng nhập vào kho mật khẩu (%1)."_s.arg(code);
}

QString KeychainStore::updateFailure(int code)
{
    return u"Không cập nhật được kho mật khẩu (%1)."_s.arg(code);
}

QString KeychainStore::removeFailure(int code)
{
    return u"Không xóa được phiên đăng nhập (%1)."_s.arg(code);
}

KeychainStore::KeychainStore(QString service)
    : m_service(std::move(service))
{
}

// The members are copied before the first suspension: the store may be gone by the time the
// Secret Service answers.
QCoro::Task<std::optional<QByteArray>> KeychainStore::read(QString account) const
{
    const auto job = makeJob<QKeychain::ReadPasswordJob>(m_service, account);
    co_await run(job.get());
    switch (job->error()) {
    case QKeychain::NoError:
        co_return job->binaryData();
    case QKeychain::EntryNotFound:
        break;
    default:
        throw TarnwickError(readFailure(job->error()));
    }
    const bool locked = co_await KeychainLock::defaultCollectionLocked();
    if (locked)
        throw TarnwickError(readFailure(lockedCode()));
    co_return std::nullopt;
}

QCoro::Task<> KeychainStore::save(QByteArray data, QString account) const
{
    const QString service = m_service;
    // The store replaces in one step; asking first only tells which message a failure gets.
    const auto probe = makeJob<QKeychain::ReadPasswordJob>(service, account);
    co_await run(probe.get());
    if (probe->error() != QKeychain::NoError && probe->error() != QKeychain::EntryNotFound)
        throw TarnwickError(updateFailure(probe->error()));
    const bool existed = probe->error() == QKeychain::NoError;

    const auto job = makeJob<QKeychain::WritePasswordJob>(service, account);
    job->setBinaryData(data);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        throw TarnwickError(existed ? updateFailure(job->error()) : addFailure(job->error()));
}

QCoro::Task<> KeychainStore::remove(QString account) const
{
    const auto job = makeJob<QKeychain::DeletePasswordJob>(m_service, account);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        throw TarnwickError(removeFailure(job->error()));
    // A locked collection keeps its items and still answers as if they were gone.
    const bool locked = co_await KeychainLock::defaultCollectionLocked();
    if (locked)
        throw TarnwickError(removeFailure(lockedCode()));
}

} // namespace Tarnwick
