#pragma once

#include <QString>
#include <QUrl>

namespace Tarnwick {

// A newer version the update check found: what to offer and where its download page is.
struct AvailableUpdate
{
    QString version;
    QUrl url;
    QString notes; // empty when the manifest has none

    bool operator==(const AvailableUpdate &) const = default;
};

} // namespace Tarnwick
