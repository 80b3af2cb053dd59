#pragma once

#include "state/contentblob.h"

#include <QString>

#include <memory>

class QTemporaryDir;

namespace Tarnwick::Emulator {

// The folder that holds stored file contents and the bytes of open upload sessions: the data
// directory's "content" folder when state persists, otherwise a private temporary folder.
class ContentStore final
{
public:
    // Empty dir: a temporary folder removed with the store.
    explicit ContentStore(const QString &dir = {});
    ~ContentStore();
    ContentStore(const ContentStore &) = delete;
    ContentStore &operator=(const ContentStore &) = delete;

    const QString &dir() const { return m_dir; }
    bool isValid() const { return !m_dir.isEmpty(); }

    // A fresh file name inside the store (not created).
    QString newPath(const QString &suffix = QStringLiteral(".bin")) const;
    // Stores bytes as a new owned blob.
    Blob write(const QByteArray &bytes) const;
    // Takes a file already inside the store.
    Blob adopt(const QString &path) const;
    bool contains(const QString &path) const;
    // Removes every file not named in keep (leftovers of a crash).
    void removeAllExcept(const QStringList &keep) const;

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_dir;
};

} // namespace Tarnwick::Emulator
