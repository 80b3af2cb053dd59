#include "sheets/destructivealert.h"

#include "desktop.h"

using namespace Qt::StringLiterals;

namespace Tarnwick {

QCoro::Task<bool> confirmDestructive(Desktop &desktop, QString title, QString message,
                                     QString action)
{
    Desktop::Alert alert;
    alert.title = std::move(title);
    alert.message = std::move(message);
    alert.buttons = {{u"Hủy"_s, Desktop::AlertButton::Role::Cancel},
                     {std::move(action), Desktop::AlertButton::Role::Destructive}};
    auto asking = desktop.ask(std::move(alert));
    const int chosen = co_await asking;
    co_return chosen == 1;
}

} // namespace Tarnwick
