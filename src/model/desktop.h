#pragma once

#include "transfer/transfernotifier.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace Tarnwick {

// What the model asks of the desktop: dialogs, alerts, the browser, notifications, the
// clipboard, the trash, the file manager and the preview. The model never shows anything
// itself; the window's implementation uses Qt and D-Bus, tests use a scripted fake.
// Dialogs are asynchronous: their tasks end when the user has answered.
class Desktop : public TransferNotifier
{
public:
    // A folder picker: directories only, one folder.
    struct FolderRequest
    {
        QString prompt;                   // the confirm button's text
        QString message;                  // what the user is asked to pick
        std::optional<QString> directory; // where the picker starts
        std::optional<QString> selected;  // a folder of directory selected when it opens
        bool operator==(const FolderRequest &) const = default;
    };

    // A file picker.
    struct FilesRequest
    {
        QString prompt;
        QString message;
        bool allowFolders = false;
        bool multiple = true;
        std::optional<QString> directory;
        // Only files of these MIME types can be picked; empty: any file.
        QStringList mimeTypes;
        // Entries of directory selected when the picker opens.
        QStringList selected;
        bool operator==(const FilesRequest &) const = default;
    };

    // A save-location picker.
    struct SaveRequest
    {
        QString prompt;
        QString message;
        QString suggestedName;
        std::optional<QString> directory;
        bool operator==(const SaveRequest &) const = default;
    };

    struct AlertButton
    {
        enum class Role { Normal, Default, Cancel, Destructive };
        QString text;
        Role role = Role::Normal;
        bool operator==(const AlertButton &) const = default;
    };

    struct Alert
    {
        QString title;
        QString message;
        QList<AlertButton> buttons; // in display order
        bool operator==(const Alert &) const = default;
    };

    // Its destinationPath is a file to select in the file manager when the user clicks it.
    using Notification = TransferNotification;

    // The chosen folder's absolute path; missing when the user cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseFolder(FolderRequest request) = 0;
    // The chosen absolute paths; empty when the user cancelled.
    virtual QCoro::Task<QStringList> chooseFiles(FilesRequest request) = 0;
    // The chosen absolute path; missing when the user cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseSaveLocation(SaveRequest request) = 0;
    // The index of the button the user chose; dismissing the alert chooses the Cancel button
    // (-1 when there is none).
    virtual QCoro::Task<int> ask(Alert alert) = 0;

    virtual void openUrl(const QUrl &url) = 0;
    // postNotification (from TransferNotifier) never blocks or fails: a missing notification
    // service just means no notification.
    virtual void copyText(const QString &text) = 0;
    // Moves one file or folder to the user's trash; throws a Failure carrying the system's
    // description when it cannot.
    virtual QCoro::Task<> moveToTrash(QString path) = 0;
    // Shows the entries selected in the file manager.
    virtual void reveal(const QStringList &paths) = 0;
    // Shows a quick preview of a file.
    virtual void preview(const QString &path) = 0;
};

} // namespace Tarnwick
