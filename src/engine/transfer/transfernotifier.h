#pragma once

#include <QString>

#include <optional>

namespace Tarnwick {

// A notice that a transfer arrived, for the desktop's notification service.
struct TransferNotification
{
    QString title;
    QString body;
    // A download's destination, opened when the notice is clicked.
    std::optional<QString> destinationPath;

    bool operator==(const TransferNotification &) const = default;
};

// Where the queue posts its completion notices: the desktop in the window, nothing or a line on
// the terminal elsewhere.
class TransferNotifier
{
public:
    virtual ~TransferNotifier() = default;
    virtual void postNotification(const TransferNotification &notification) = 0;
};

} // namespace Tarnwick
