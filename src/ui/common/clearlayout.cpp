#include "common/clearlayout.h"

#include <QLayout>
#include <QWidget>

namespace Tarnwick {

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *old = item->widget()) {
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        delete item;
    }
}

} // namespace Tarnwick
