#pragma once

// The inside of DriveEmulator, shared by its implementation files.

#include "driveemulator.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "server/emulatorserver.h"
#include "state/emulatorstate.h"
#include "faults/faultinjector.h"
#include "server/requestlog.h"

#include <QDir>
#include <QJsonDocument>
#include <QSaveFile>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Tarnwick::Emulator {

inline const QString &fullDriveScope()
{
    static const QString scope = QStringLiteral("https://www.googleapis.com/auth/drive");
    return scope;
}

struct DriveEmulator::Private
{
    explicit Private(Options o)
        : options(std::move(o))
        , limits(options.limitClock)
    {
        limits.setSettings(options.limits);
    }

    Options options;
    Limits limits;
    std::unique_ptr<ContentStore> store;
    std::unique_ptr<EmulatorState> state;
    FaultInjector faults;
    RequestLog log;
    std::unique_ptr<EmulatorServer> server;
    QJsonObject seed;
    QString seedDir;

    std::thread saver;
    std::mutex saverMutex;
    std::condition_variable saverWake;
    bool saverStop = false;
    quint64 savedRevision = 0;

    QString statePath() const
    {
        return QDir(options.dataDir).filePath(QStringLiteral("state.json"));
    }

    void loadSeed()
    {
        state->load(seed, seedDir);
        addStaticTokens();
    }

    void addStaticTokens()
    {
        if (options.accessTokens.isEmpty())
            return;
        QString email = state->defaultUser();
        if (email.isEmpty()) {
            email = QStringLiteral("user@example.com");
            state->addUser(
                EmulatorState::User{email, QStringLiteral("Tarnwick User"), {}, {}, {}, 0, {}});
        }
        for (const QString &token : options.accessTokens)
            state->addAccessToken(token,
                                  EmulatorState::AccessToken{email, {}, fullDriveScope(), {}});
    }

    void save()
    {
        if (options.dataDir.isEmpty())
            return;
        const quint64 revision = state->revision();
        const QByteArray json = QJsonDocument(state->save()).toJson(QJsonDocument::Compact);
        QSaveFile file(statePath());
        // The state holds the tokens it issued: the user's own, like every file of theirs.
        if (file.open(QIODevice::WriteOnly) && ::fchmod(file.handle(), 0600) == 0 &&
            file.write(json) == json.size() && file.commit())
            savedRevision = revision;
    }

    void startSaver()
    {
        if (options.dataDir.isEmpty() || saver.joinable())
            return;
        saverStop = false;
        saver = std::thread([this] {
            std::unique_lock lock(saverMutex);
            while (!saverStop) {
                saverWake.wait_for(lock, std::chrono::milliseconds(200));
                if (state->revision() != savedRevision)
                    save();
            }
        });
    }

    void stopSaver()
    {
        if (!saver.joinable())
            return;
        {
            std::lock_guard lock(saverMutex);
            saverStop = true;
        }
        saverWake.notify_all();
        saver.join();
    }

    EmulatorState::Caller as(const QString &email) const
    {
        return EmulatorState::Caller{email, {}, fullDriveScope()};
    }

    QString parentOr(const QString &email, const QString &parentId) const
    {
        if (!parentId.isEmpty())
            return parentId;
        const QString root = state->rootIdOf(email);
        if (root.isEmpty())
            throw std::invalid_argument("unknown user");
        return root;
    }

    QString insert(const QString &email, const QString &name, const QString &mime,
                   const QString &parentId, Blob content, const QString &shortcutTarget = {})
    {
        EmulatorState::Item item;
        item.name = name;
        item.mimeType = mime;
        item.parent = parentOr(email, parentId);
        item.owner = email;
        item.content = std::move(content);
        item.shortcutTarget = shortcutTarget;
        item.lastModifyingUser = email;
        try {
            return state->insertItem(item);
        } catch (const ApiError &) {
            throw std::invalid_argument("unknown parent folder");
        }
    }
};

} // namespace Tarnwick::Emulator
