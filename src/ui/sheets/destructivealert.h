#pragma once

#include <QCoroTask>
#include <QString>

namespace Tarnwick {

class Desktop;

// Asks with "Hủy" and one destructive action (titled action); true when the action was chosen.
// Desktop is not touched once the answer is in, so it may be gone by then.
QCoro::Task<bool> confirmDestructive(Desktop &desktop, QString title, QString message,
                                     QString action);

} // namespace Tarnwick
