#include "sheets/namesheet.h"

#include "common/palette.h"

#include "records/errors.h"
#include "records/drivenames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

NameSheet::NameSheet(const QString &title, const QString &initial, QWidget *parent)
    : QDialog(parent)
    , m_name(new QLineEdit(initial, this))
    , m_error(new WrappingLabel(this, 6))
    , m_cancel(new QPushButton(u"Hủy"_s, this))
    , m_save(new QPushButton(u"Lưu"_s, this))
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    auto *heading = new QLabel(title, this);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    heading->setFont(font);
    layout->addWidget(heading);
    m_name->setPlaceholderText(u"Tên thư mục hoặc file"_s);
    m_name->setMinimumWidth(320);
    layout->addWidget(m_name);
    m_error->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
    m_error->setWordWrap(true);
    m_error->hide();
    layout->addWidget(m_error);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);
    m_save->setDefault(true);
    m_save->setAutoDefault(true);
    m_cancel->setAutoDefault(false);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &NameSheet::submit);
    connect(m_name, &QLineEdit::returnPressed, this, &NameSheet::submit);
    m_name->selectAll();
    m_name->setFocus();
}

void NameSheet::submit()
{
    QString name;
    try {
        name = DriveNames::validateName(m_name->text());
    } catch (const Failure &failure) {
        m_error->setFullText(failure.description());
        m_error->show();
        return;
    }
    m_error->hide();
    emit nameChosen(name);
    accept();
}

} // namespace Tarnwick
