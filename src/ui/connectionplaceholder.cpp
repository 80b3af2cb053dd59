#include "connectionplaceholder.h"

#include "emptystateview.h"

#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

ConnectionPlaceholder::ConnectionPlaceholder(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(u"Kết nối Google Drive"_s);
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    auto *view = new EmptyStateView(this);
    view->setSymbol(u"cloud"_s);
    view->setTitle(u"Kết nối Google Drive"_s);
    view->setCaption(u"Đăng nhập an toàn qua Google"_s);
    layout->addWidget(view);
    resize(420, 300);
}

} // namespace Tarnwick
