#pragma once

#include "common/wrappinglabel.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QWidget;

namespace Tarnwick {

class DriveConnection;

// The sheet in which the user signs in with Google, sees the connected account and
// disconnects, and (without a shipped Google configuration) imports a developer configuration.
// It switches between its two states in place as the connection changes; every action is a call
// on the connection slice.
class ConnectionView final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionView)

public:
    explicit ConnectionView(DriveConnection *connection, QWidget *parent = nullptr);

    QLabel *titleLabel() const { return m_title; }
    QLabel *subtitleLabel() const { return m_subtitle; }
    QLabel *notConfiguredLabel() const { return m_notConfigured; }
    QLabel *errorLabel() const { return m_error; }
    QWidget *developerSection() const { return m_developer; }
    QToolButton *developerToggle() const { return m_developerToggle; }
    QPushButton *importButton() const { return m_import; }
    QLabel *configuredLabel() const { return m_configured; }
    QPushButton *loginButton() const { return m_login; }
    QPushButton *cancelLoginButton() const { return m_cancelLogin; }
    QProgressBar *progress() const { return m_progress; }
    QPushButton *disconnectButton() const { return m_disconnect; }
    QPushButton *doneButton() const { return m_done; }
    QStackedWidget *states() const { return m_states; }
    QWidget *connectedPage() const { return m_connectedPage; }
    QWidget *signInPage() const { return m_signInPage; }
    QLabel *noteLabel() const { return m_note; }

    // A line under the title in both states (the demo says how it signed in); empty hides it.
    void setNote(const QString &note);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void update();
    // Grows the sheet to the height its wrapped texts need at its width.
    void fitHeight();

    QPointer<DriveConnection> m_connection;
    QLabel *m_title;
    QLabel *m_subtitle;
    QLabel *m_note;
    QStackedWidget *m_states;
    QWidget *m_connectedPage;
    QWidget *m_signInPage;
    QPushButton *m_disconnect;
    QPushButton *m_done;
    QLabel *m_notConfigured;
    WrappingLabel *m_error;
    QToolButton *m_developerToggle;
    QWidget *m_developer;
    QPushButton *m_import;
    QLabel *m_configured;
    QProgressBar *m_progress;
    QPushButton *m_cancelLogin;
    QPushButton *m_login;
};

} // namespace Tarnwick
