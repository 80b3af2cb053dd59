#include "window/sidebar.h"

#include "common/icons.h"
#include "common/palette.h"
#include "window/sidebutton.h"

#include "browse/drivelocation.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// The brand mark: a tile with curved corners bearing the transfer arrows.
class BrandMark final : public QWidget
{
public:
    explicit BrandMark(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(32, 32);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        Icons::paintBrandMark(&painter, QRectF(rect()));
    }
};

} // namespace

Sidebar::Sidebar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"sidebar"_s);
    setAttribute(Qt::WA_StyledBackground);
    setFixedWidth(220);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 18, 14, 14);
    layout->setSpacing(2);

    auto *brand = new QHBoxLayout;
    brand->setSpacing(10);
    brand->addWidget(new BrandMark(this));
    auto *title = new QLabel(u"Tarnwick"_s, this);
    title->setProperty("role", u"brand"_s);
    brand->addWidget(title);
    brand->addStretch();
    layout->addLayout(brand);
    layout->addSpacing(22);

    auto *section = new QLabel(u"GOOGLE DRIVE"_s, this);
    section->setProperty("role", u"section"_s);
    section->setContentsMargins(10, 0, 0, 4);
    layout->addWidget(section);

    const QList<DriveLocation> areas = DriveLocations::all();
    for (int i = 0; i < areas.size(); ++i) {
        auto *button = new SideButton(DriveLocations::symbolName(areas.at(i)),
                                      DriveLocations::rawValue(areas.at(i)), this);
        connect(button, &QPushButton::clicked, this, [this, i] { emit locationClicked(i); });
        m_locations.append(button);
        layout->addWidget(button);
    }
    layout->addSpacing(10);
    m_queue = new SideButton(u"arrow.up.arrow.down"_s, u"Hàng đợi"_s, this);
    connect(m_queue, &QPushButton::clicked, this, &Sidebar::queueClicked);
    layout->addWidget(m_queue);
    layout->addStretch(1);

    m_coffee = new QPushButton(Icons::symbol(u"cup.and.saucer"_s, Palette::teal()),
                               u"Mời Tavo ly cà phê"_s, this);
    m_coffee->setToolTip(u"Ủng hộ người làm Tarnwick, hoàn toàn tuỳ tâm"_s);
    m_coffee->setCursor(Qt::PointingHandCursor);
    connect(m_coffee, &QPushButton::clicked, this, &Sidebar::coffeeClicked);
    layout->addWidget(m_coffee);
}

void Sidebar::setActiveLocation(std::optional<int> index)
{
    for (int i = 0; i < m_locations.size(); ++i)
        m_locations.at(i)->setActive(index == i);
}

void Sidebar::setQueueActive(bool active)
{
    m_queue->setActive(active);
}

void Sidebar::setQueueBadge(int count)
{
    m_queue->setBadge(count);
}

} // namespace Tarnwick
