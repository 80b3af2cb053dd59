#include "scripteddesktop.h"

#include "records/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Tarnwick::Testing {

ScriptedDesktop::ScriptedDesktop(QString trashFolder)
    : m_trashFolder(std::move(trashFolder))
{
    if (!m_trashFolder.isEmpty())
        QDir().mkpath(m_trashFolder);
}

void ScriptedDesktop::failTrash(const QString &path, QString description)
{
    m_trashFailures.insert(path, std::move(description));
}

QCoro::Task<std::optional<QString>> ScriptedDesktop::chooseFolder(FolderRequest request)
{
    folderRequests.append(request);
    co_return m_folderAnswers.isEmpty() ? std::nullopt : m_folderAnswers.dequeue();
}

QCoro::Task<QStringList> ScriptedDesktop::chooseFiles(FilesRequest request)
{
    filesRequests.append(request);
    co_return m_filesAnswers.isEmpty() ? QStringList() : m_filesAnswers.dequeue();
}

QCoro::Task<std::optional<QString>> ScriptedDesktop::chooseSaveLocation(SaveRequest request)
{
    saveRequests.append(request);
    co_return m_saveAnswers.isEmpty() ? std::nullopt : m_saveAnswers.dequeue();
}

QCoro::Task<int> ScriptedDesktop::ask(Alert alert)
{
    alerts.append(alert);
    if (!m_alertAnswers.isEmpty())
        co_return m_alertAnswers.dequeue();
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        if (alert.buttons.at(i).role == AlertButton::Role::Cancel)
            co_return int(i);
    }
    co_return -1;
}

QCoro::Task<> ScriptedDesktop::moveToTrash(QString path)
{
    trashRequests.append(path);
    if (const auto failure = m_trashFailures.constFind(path); failure != m_trashFailures.cend())
        throw SystemError(*failure);
    if (m_trashFolder.isEmpty())
        co_return;
    const QString target = QDir(m_trashFolder).filePath(QFileInfo(path).fileName());
    if (!QFile::rename(path, target))
        throw SystemError(QStringLiteral("cannot move %1").arg(path));
    co_return;
}

} // namespace Tarnwick::Testing
