#pragma once

#include <functional>
#include <optional>

#include "desktop.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

namespace Tarnwick {

class PreviewWindow;

// The desktop as Tarnwick uses it on Linux: Qt dialogs and message boxes (window-modal, never a
// nested event loop), QDesktopServices, the clipboard, the freedesktop trash, and the
// notification and file-manager services over D-Bus. D-Bus calls are asynchronous with short
// timeouts, so a missing or hung service never blocks the program.
class QtDesktop final : public QObject, public Desktop
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtDesktop)

public:
    explicit QtDesktop(QObject *parent = nullptr);
    ~QtDesktop() override;

    // The window dialogs belong to; not owned.
    void setWindow(QWidget *window) { m_window = window; }

    QCoro::Task<std::optional<QString>> chooseFolder(FolderRequest request) override;
    QCoro::Task<QStringList> chooseFiles(FilesRequest request) override;
    QCoro::Task<std::optional<QString>> chooseSaveLocation(SaveRequest request) override;
    QCoro::Task<int> ask(Alert alert) override;
    void openUrl(const QUrl &url) override;
    // Takes over opening the URLs it accepts (returns true for); the browser gets the others.
    void setUrlHandler(std::function<bool(const QUrl &)> handler)
    {
        m_urlHandler = std::move(handler);
    }
    void postNotification(const Notification &notification) override;
    void copyText(const QString &text) override;
    QCoro::Task<> moveToTrash(QString path) override;
    void reveal(const QStringList &paths) override;
    void preview(const QString &path) override;

    // Moves one entry to the freedesktop trash; the failure's description, or missing.
    // Blocking: runs on a worker thread.
    static std::optional<QString> trashNow(const QString &path);

    // The preview window on screen, if any (for tests).
    PreviewWindow *previewWindow() const;

private slots:
    void notificationActionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    std::function<bool(const QUrl &)> m_urlHandler;
    QCoro::Task<> showPreview(QString path);
    void listenToNotifications();

    QPointer<QWidget> m_window;
    QPointer<PreviewWindow> m_preview;
    QHash<uint, QString> m_notificationPaths; // notification id → file to reveal on click
    bool m_listening = false;
    // Whether the notification server reads markup in a body; unknown until it has answered.
    std::optional<bool> m_bodyMarkup;
    quint64 m_previewRequest = 0;
};

} // namespace Tarnwick
