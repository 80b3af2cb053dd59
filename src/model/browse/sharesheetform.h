#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace Tarnwick {

// What the share sheet's add form holds: the address typed, the role and notification chosen,
// whether an addition is running, and the sheet's own error line. The sheet owns it; the model's
// add and remove actions (Sharing::addCollaborator, removeCollaborator) fill in the outcome.
class ShareSheetForm final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareSheetForm)

public:
    explicit ShareSheetForm(QObject *parent = nullptr);

    const QString &email() const { return m_email; }
    void setEmail(QString email);
    // "writer", "commenter" or "reader".
    const QString &role() const { return m_role; }
    void setRole(QString role);
    // Whether Drive mails the person about the share.
    bool sendNotify() const { return m_sendNotify; }
    void setSendNotify(bool send);
    bool isAdding() const { return m_adding; }
    void setAdding(bool adding);
    const std::optional<QString> &localError() const { return m_localError; }
    void setLocalError(std::optional<QString> error);

signals:
    // Any member changed.
    void changed();

private:
    QString m_email;
    QString m_role = QStringLiteral("writer");
    bool m_sendNotify = true;
    bool m_adding = false;
    std::optional<QString> m_localError;
};

} // namespace Tarnwick
