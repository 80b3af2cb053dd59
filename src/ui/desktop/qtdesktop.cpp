#include "desktop/qtdesktop.h"

#include "common/palette.h"
#include "sheets/previewwindow.h"

#include "async/async.h"
#include "records/errors.h"
#include "records/displaytext.h"
#include "futureresult.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

constexpr int dbusTimeoutMs = 3000;

const QString notificationsService = u"org.freedesktop.Notifications"_s;
const QString notificationsPath = u"/org/freedesktop/Notifications"_s;

QFileDialog *makeDialog(QWidget *parent, const QString &caption,
                        const std::optional<QString> &directory)
{
    auto *dialog = new QFileDialog(parent, caption, directory.value_or(QDir::homePath()));
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    return dialog;
}

// Shows the dialog and waits until it is closed; true when the user accepted it. Deletes the
// dialog later; the caller reads its answer first.
QCoro::Task<bool> runDialog(QPointer<QDialog> dialog)
{
    Wakeup closed{std::stop_token()};
    closed.on(dialog.data(), &QDialog::finished);
    dialog->open();
    co_await closed;
    co_return dialog && dialog->result() == QDialog::Accepted;
}

// Runs a file dialog to its end: the entries picked, none when cancelled. Deletes the dialog.
QCoro::Task<QStringList> pickedIn(QPointer<QFileDialog> dialog)
{
    auto running = runDialog(dialog.data());
    const bool accepted = co_await running;
    QStringList picked;
    if (dialog) {
        if (accepted)
            picked = dialog->selectedFiles();
        dialog->deleteLater();
    }
    co_return picked;
}

} // namespace

QtDesktop::QtDesktop(QObject *parent)
    : QObject(parent)
{
}

QtDesktop::~QtDesktop()
{
    if (m_preview)
        m_preview->close();
}

QCoro::Task<std::optional<QString>> QtDesktop::chooseFolder(FolderRequest request)
{
    QPointer<QFileDialog> dialog = makeDialog(m_window, request.message, request.directory);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    if (request.selected)
        dialog->selectFile(QFileInfo(*request.selected).fileName());
    auto picking = pickedIn(dialog);
    const QStringList picked = co_await picking;
    co_return picked.isEmpty() ? std::nullopt : std::optional(picked.constFirst());
}

QCoro::Task<QStringList> QtDesktop::chooseFiles(FilesRequest request)
{
    QPointer<QFileDialog> dialog = makeDialog(m_window, request.message, request.directory);
    dialog->setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.mimeTypes.isEmpty())
        dialog->setMimeTypeFilters(request.mimeTypes);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    // Several names go in as the dialog's own quoted list.
    QStringList names;
    for (const QString &path : std::as_const(request.selected))
        names.append(QFileInfo(path).fileName());
    if (names.size() == 1)
        dialog->selectFile(names.constFirst());
    else if (names.size() > 1)
        dialog->selectFile(u'"' + names.join(u"\" \""_s) + u'"');
    auto picking = pickedIn(dialog);
    co_return co_await picking;
}

QCoro::Task<std::optional<QString>> QtDesktop::chooseSaveLocation(SaveRequest request)
{
    QPointer<QFileDialog> dialog = makeDialog(m_window, request.message, request.directory);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    dialog->selectFile(request.suggestedName);
    auto picking = pickedIn(dialog);
    const QStringList picked = co_await picking;
    co_return picked.isEmpty() ? std::nullopt : std::optional(picked.constFirst());
}

QCoro::Task<int> QtDesktop::ask(Alert alert)
{
    QPointer<QMessageBox> box = new QMessageBox(m_window);
    box->setWindowTitle(u"Tarnwick"_s);
    // Alerts quote names and a server's words: plain text, never markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(DisplayText::message(alert.title));
    box->setInformativeText(DisplayText::message(alert.message));
    if (auto *informative = box->findChild<QLabel *>(u"qt_msgbox_informativelabel"_s))
        informative->setTextFormat(Qt::PlainText);
    box->setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
    if (!QApplication::windowIcon().isNull())
        box->setIconPixmap(
            QApplication::windowIcon().pixmap(QSize(48, 48), box->devicePixelRatioF()));
    QList<QAbstractButton *> buttons;
    QAbstractButton *cancel = nullptr;
    QPushButton *preferred = nullptr;
    for (const AlertButton &spec : alert.buttons) {
        // One role for all keeps the buttons in the order given; Escape and Return are set below.
        QPushButton *button = box->addButton(spec.text, QMessageBox::ActionRole);
        buttons.append(button);
        switch (spec.role) {
        case AlertButton::Role::Cancel:
            cancel = button;
            if (!preferred)
                preferred = button;
            break;
        case AlertButton::Role::Default:
            preferred = button;
            break;
        case AlertButton::Role::Destructive:
            button->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
            break;
        case AlertButton::Role::Normal:
            break;
        }
    }
    if (!preferred && !buttons.isEmpty())
        preferred = static_cast<QPushButton *>(buttons.constFirst());
    if (preferred)
        box->setDefaultButton(preferred);
    box->setEscapeButton(cancel ? cancel : preferred);

    auto running = runDialog(box.data());
    co_await running;
    int chosen = -1;
    if (box) {
        chosen = int(buttons.indexOf(box->clickedButton()));
        if (chosen < 0 && cancel)
            chosen = int(buttons.indexOf(cancel));
        box->deleteLater();
    } else if (cancel) {
        chosen = int(buttons.indexOf(cancel));
    }
    co_return chosen;
}

void QtDesktop::openUrl(const QUrl &url)
{
    if (m_urlHandler && m_urlHandler(url))
        return;
    QDesktopServices::openUrl(url);
}

void QtDesktop::postNotification(const Notification &notification)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    listenToNotifications();
    QDBusMessage call = QDBusMessage::createMethodCall(notificationsService, notificationsPath,
                                                       notificationsService, u"Notify"_s);
    QStringList actions;
    if (notification.destinationPath)
        actions << u"default"_s << QString();
    const QString entry = QStringLiteral(TARNWICK_APP_ID);
    QVariantMap hints{{u"sound-name"_s, u"complete"_s}, {u"desktop-entry"_s, entry}};
    // A body quotes names: a server that reads markup in it (or one that has not said yet) gets
    // it escaped, so a name never turns into a picture or a link.
    QString body = DisplayText::message(notification.body);
    if (m_bodyMarkup.value_or(true))
        body = body.toHtmlEscaped();
    call << u"Tarnwick"_s << uint(0) << entry << notification.title << body << actions << hints
         << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, dbusTimeoutMs), this);
    const std::optional<QString> path = notification.destinationPath;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher *w) {
                QDBusPendingReply<uint> reply = *w;
                if (!reply.isError() && path)
                    m_notificationPaths.insert(reply.value(), *path);
                w->deleteLater();
            });
}

void QtDesktop::listenToNotifications()
{
    if (m_listening)
        return;
    m_listening = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(notificationsService, notificationsPath, notificationsService, u"ActionInvoked"_s,
                this, SLOT(notificationActionInvoked(uint, QString)));
    bus.connect(notificationsService, notificationsPath, notificationsService,
                u"NotificationClosed"_s, this, SLOT(notificationClosed(uint, uint)));
    const QDBusMessage capabilities = QDBusMessage::createMethodCall(
        notificationsService, notificationsPath, notificationsService, u"GetCapabilities"_s);
    auto *asked = new QDBusPendingCallWatcher(bus.asyncCall(capabilities, dbusTimeoutMs), this);
    connect(asked, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isError())
            m_bodyMarkup = reply.value().contains(u"body-markup"_s);
        w->deleteLater();
    });
}

void QtDesktop::notificationActionInvoked(uint id, const QString &action)
{
    const QString path = m_notificationPaths.take(id);
    if (action == u"default" && !path.isEmpty())
        reveal({path});
}

void QtDesktop::notificationClosed(uint id, uint)
{
    m_notificationPaths.remove(id);
}

void QtDesktop::copyText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

std::optional<QString> QtDesktop::trashNow(const QString &path)
{
    // Qt 6.4 reports success but trashes into the working directory when the data folder does
    // not exist yet: make sure it does, and refuse a relative result.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return u"Không tạo được thư mục thùng rác"_s;
    QFile file(path);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return SystemError::fromErrno(ENOENT).description();
    if (!file.moveToTrash())
        return file.errorString();
    const QString inTrash = file.fileName();
    if (QDir::isRelativePath(inTrash)) {
        QFile::rename(inTrash, path);
        return u"Không tìm thấy thư mục thùng rác"_s;
    }
    return std::nullopt;
}

QCoro::Task<> QtDesktop::moveToTrash(QString path)
{
    auto trashing = resultLater(QtConcurrent::run(&QtDesktop::trashNow, path));
    const std::optional<QString> failure = co_await trashing;
    if (failure)
        throw SystemError(*failure);
}

void QtDesktop::reveal(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList uris;
    for (const QString &path : paths)
        uris.append(QUrl::fromLocalFile(path).toString());
    const QString folder = QFileInfo(paths.constFirst()).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
        u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, dbusTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [folder](QDBusPendingCallWatcher *w) {
                if (w->isError())
                    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
                w->deleteLater();
            });
}

PreviewWindow *QtDesktop::previewWindow() const
{
    return m_preview;
}

void QtDesktop::preview(const QString &path)
{
    showPreview(path);
}

QCoro::Task<> QtDesktop::showPreview(QString path)
{
    const quint64 request = ++m_previewRequest;
    QPointer<QtDesktop> self(this);
    auto loading = resultLater(QtConcurrent::run(&PreviewWindow::load, path));
    const PreviewWindow::Content content = co_await loading;
    if (!self || request != m_previewRequest)
        co_return;
    if (content.image.isNull() && content.text.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        co_return;
    }
    if (!m_preview)
        m_preview = new PreviewWindow(m_window);
    m_preview->showContent(path, content);
}

} // namespace Tarnwick
