#pragma once

#include "common/wrappinglabel.h"

#include "drive/drivefile.h"
#include "drive/drivepermission.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace Tarnwick {

class ShareSheetForm;
class Sharing;

// The permissions of one Drive item: the add form (address, role, notification), the list of
// people with access and their role menus, reloading, copying the share link. Every failure is
// shown in the sheet's error line; the sheet stays open until "Xong".
class ShareSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareSheet)

public:
    ShareSheet(Sharing *sharing, DriveFile file, QWidget *parent = nullptr);

    // The short title of a role; any other role as it is.
    static QString roleTitle(const QString &role);

    ShareSheetForm *form() const { return m_form; }
    QLineEdit *emailField() const { return m_email; }
    QComboBox *roleBox() const { return m_role; }
    QCheckBox *notifyBox() const { return m_notify; }
    QPushButton *shareButton() const { return m_share; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *refreshButton() const { return m_refresh; }
    QPushButton *copyLinkButton() const { return m_copyLink; }
    QPushButton *doneButton() const { return m_done; }
    // The rows of the list: one widget per permission, or the empty text.
    QWidget *list() const { return m_list; }

private:
    void updateForm();
    void updateList();
    QWidget *permissionRow(const DrivePermission &permission);

    QPointer<Sharing> m_sharing;
    DriveFile m_file;
    ShareSheetForm *m_form;
    QLineEdit *m_email;
    QComboBox *m_role;
    QCheckBox *m_notify;
    QPushButton *m_share;
    QProgressBar *m_adding;
    QLabel *m_errorIcon;
    WrappingLabel *m_error;
    QPushButton *m_refresh;
    QProgressBar *m_loading;
    QWidget *m_list;
    QVBoxLayout *m_listLayout;
    QPushButton *m_copyLink;
    QPushButton *m_done;
};

} // namespace Tarnwick
