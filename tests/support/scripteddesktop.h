#pragma once

#include "desktop.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <optional>

namespace Tarnwick::Testing {

// A Desktop for tests: dialogs and alerts answer from a script (an unscripted dialog cancels),
// every call is recorded, and the trash moves entries into a folder of the test's choosing
// unless a failure was scripted for that path.
class ScriptedDesktop final : public Desktop
{
public:
    // Trashed entries are moved into trashFolder; with an empty one they stay where they are.
    explicit ScriptedDesktop(QString trashFolder = {});

    // --- Script ---
    void answerFolder(std::optional<QString> path) { m_folderAnswers.enqueue(std::move(path)); }
    void answerFiles(QStringList paths) { m_filesAnswers.enqueue(std::move(paths)); }
    void answerSave(std::optional<QString> path) { m_saveAnswers.enqueue(std::move(path)); }
    // The index of the button to choose in the next alert.
    void answerAlert(int button) { m_alertAnswers.enqueue(button); }
    // Moving this path to the trash fails with the given description.
    void failTrash(const QString &path, QString description);

    // --- Record ---
    QList<FolderRequest> folderRequests;
    QList<FilesRequest> filesRequests;
    QList<SaveRequest> saveRequests;
    QList<Alert> alerts;
    QList<QUrl> openedUrls;
    QList<Notification> notifications;
    QStringList copiedTexts;
    QStringList trashRequests; // every path asked for, failed ones included
    QList<QStringList> revealed;
    QStringList previewed;

    // --- Desktop ---
    QCoro::Task<std::optional<QString>> chooseFolder(FolderRequest request) override;
    QCoro::Task<QStringList> chooseFiles(FilesRequest request) override;
    QCoro::Task<std::optional<QString>> chooseSaveLocation(SaveRequest request) override;
    QCoro::Task<int> ask(Alert alert) override;
    void openUrl(const QUrl &url) override { openedUrls.append(url); }
    void postNotification(const Notification &notification) override
    {
        notifications.append(notification);
    }
    void copyText(const QString &text) override { copiedTexts.append(text); }
    QCoro::Task<> moveToTrash(QString path) override;
    void reveal(const QStringList &paths) override { revealed.append(paths); }
    void preview(const QString &path) override { previewed.append(path); }

private:
    QString m_trashFolder;
    QQueue<std::optional<QString>> m_folderAnswers;
    QQueue<QStringList> m_filesAnswers;
    QQueue<std::optional<QString>> m_saveAnswers;
    QQueue<int> m_alertAnswers;
    QHash<QString, QString> m_trashFailures;
};

} // namespace Tarnwick::Testing
