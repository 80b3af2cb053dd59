#pragma once

#include <QString>

namespace Tarnwick {

// One folder of the Drive pane's path below the root of its area.
struct Crumb
{
    QString id;   // the folder's Drive ID
    QString name; // its name as listed

    bool operator==(const Crumb &) const = default;
};

} // namespace Tarnwick
