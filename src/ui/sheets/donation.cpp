#include "sheets/donation.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace Tarnwick {

std::optional<DonationDetails> DonationDetails::fromJson(const QByteArray &json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    DonationDetails details;
    details.bankName = object.value("bank"_L1).toString().trimmed();
    details.accountNumber = object.value("account"_L1).toString().trimmed();
    details.accountHolder = object.value("holder"_L1).toString().trimmed();
    details.payload = object.value("payload"_L1).toString().trimmed().toUtf8();
    if (details.bankName.isEmpty() || details.accountNumber.isEmpty() ||
        details.accountHolder.isEmpty() || details.payload.isEmpty())
        return std::nullopt;
    return details;
}

std::optional<DonationDetails> DonationDetails::configured()
{
    QFile file(u":/donation.json"_s);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromJson(file.readAll());
}

DonationDetails DonationDetails::demoSample()
{
    DonationDetails details;
    details.bankName = u"Ngân hàng mẫu"_s;
    details.accountNumber = u"0000000000"_s;
    details.accountHolder = u"TARNWICK DEMO"_s;
    // Plain text, not a bank-transfer code: a banking app scanning it finds nothing to pay.
    details.payload = "TARNWICK DEMO - SAMPLE ONLY - NOT A BANK ACCOUNT";
    details.sample = true;
    return details;
}

} // namespace Tarnwick
