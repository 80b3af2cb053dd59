#pragma once

#include <QDialog>
#include <QImage>

#include "sheets/donation.h"

class QLabel;
class QPushButton;

namespace Tarnwick {

// The donation request: a payment QR code, the bank account and a button that copies the
// account number (announced by copied, which the window shows as a toast).
class CoffeeSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CoffeeSheet)

public:
    CoffeeSheet(DonationDetails details, QWidget *parent = nullptr);

    // The payment QR code of payload at error-correction level M, each module 10 × 10 pixels
    // with a quiet zone of 4 modules; null when the payload cannot be encoded.
    static QImage qrCode(const QByteArray &payload);

    const DonationDetails &details() const { return m_details; }
    QLabel *codeLabel() const { return m_code; }
    QPushButton *copyButton() const { return m_copy; }

signals:
    void copied(const QString &message);

private:
    DonationDetails m_details;
    QLabel *m_code;
    QPushButton *m_copy;
};

} // namespace Tarnwick
