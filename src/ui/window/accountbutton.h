#pragma once

#include <QPushButton>

class QLabel;

namespace Tarnwick {

// The toolbar's account button: a status dot, the account's e-mail address (or the invitation
// to connect) and a chevron.
class AccountButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountButton)

public:
    explicit AccountButton(QWidget *parent = nullptr);

    void setAccount(bool connected, const QString &email, const QString &name);
    QString labelText() const;
    QSize sizeHint() const override;

private:
    QLabel *m_dot;
    QLabel *m_label;
    QLabel *m_chevron;
};

} // namespace Tarnwick
