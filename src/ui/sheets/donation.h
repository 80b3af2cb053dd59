#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Tarnwick {

// Where a donation goes: the bank-transfer QR payload and the account it names. It comes from
// the build (":/donation.json", compiled in from resources/donation.json when the build has one);
// a build without it offers no donation at all.
struct DonationDetails
{
    QString bankName;
    QString accountNumber;
    QString accountHolder;
    QByteArray payload;
    // A made-up account for the demo, which no bank accepts; the sheet says so.
    bool sample = false;

    // {"bank": …, "account": …, "holder": …, "payload": …}, every member a non-empty string.
    static std::optional<DonationDetails> fromJson(const QByteArray &json);
    // The build's configuration, if it has a valid one.
    static std::optional<DonationDetails> configured();
    static DonationDetails demoSample();
};

} // namespace Tarnwick
