#pragma once

#include "common/wrappinglabel.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace Tarnwick {

// Asks for a name (a new Drive folder or a rename). "Lưu" and Return validate the name: a
// rejected name keeps the sheet open with the text as typed and the reason under it; an
// accepted one is announced by nameChosen and closes the sheet. "Hủy" and Escape close it.
class NameSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NameSheet)

public:
    NameSheet(const QString &title, const QString &initial, QWidget *parent = nullptr);

    QLineEdit *nameField() const { return m_name; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }

    // Validates and, when the name is accepted, announces it and closes.
    void submit();

signals:
    // The validated (trimmed) name.
    void nameChosen(const QString &name);

private:
    QLineEdit *m_name;
    WrappingLabel *m_error;
    QPushButton *m_cancel;
    QPushButton *m_save;
};

} // namespace Tarnwick
