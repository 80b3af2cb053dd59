#include "sheets/coffeesheet.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <qrencode.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QImage CoffeeSheet::qrCode(const QByteArray &payload)
{
    constexpr int scale = 10;
    constexpr int quiet = 4;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(payload.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        return {};
    const int side = (code->width + 2 * quiet) * scale;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + quiet) * scale, (y + quiet) * scale, scale, scale, Qt::black);
    return image;
}

CoffeeSheet::CoffeeSheet(DonationDetails details, QWidget *parent)
    : QDialog(parent)
    , m_details(std::move(details))
    , m_code(new QLabel(this))
    , m_copy(new QPushButton(Icons::symbol(u"doc.on.doc"_s), u"Sao chép số tài khoản"_s, this))
{
    setWindowTitle(u"Mời Tavo một ly cà phê"_s);
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    auto *cup = new QLabel(this);
    const qreal dpr = devicePixelRatioF();
    QPixmap badge(QSize(46, 46) * dpr);
    badge.setDevicePixelRatio(dpr);
    badge.fill(Qt::transparent);
    {
        QPainter painter(&badge);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor ring = Palette::teal();
        ring.setAlphaF(0.15f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ring);
        painter.drawEllipse(QRectF(0, 0, 46, 46));
        Icons::symbol(u"cup.and.saucer.fill"_s, Palette::teal())
            .paint(&painter, QRect(11, 11, 24, 24));
    }
    cup->setPixmap(badge);
    layout->addWidget(cup, 0, Qt::AlignHCenter);
    auto *title = new QLabel(windowTitle(), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    title->setFont(bold);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto *text = new QLabel(
        u"Tarnwick miễn phí và sẽ luôn miễn phí. Nếu app giúp anh tiết kiệm được chút thời gian, "
        u"anh có thể mời Tavo một ly cà phê để có thêm động lực làm tiếp. Hoàn toàn tuỳ tâm, anh "
        u"dùng app là Tavo vui rồi."_s,
        this);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setFixedWidth(400);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    // Shown at half size: the 10× image stays sharp on high-density screens.
    const QImage code = qrCode(m_details.payload);
    QPixmap shown = QPixmap::fromImage(code);
    shown.setDevicePixelRatio(2.0);
    m_code->setPixmap(shown);
    layout->addWidget(m_code, 0, Qt::AlignHCenter);
    auto *caption = new QLabel(u"Quét bằng app ngân hàng bất kỳ (VietQR · Napas 247)"_s, this);
    caption->setProperty("role", u"muted"_s);
    layout->addWidget(caption, 0, Qt::AlignHCenter);
    auto *account = new QLabel(m_details.bankName + u" · "_s + m_details.accountNumber + u"\n"_s +
                                   m_details.accountHolder,
                               this);
    account->setAlignment(Qt::AlignCenter);
    account->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(account, 0, Qt::AlignHCenter);
    if (m_details.sample) {
        auto *sample = new QLabel(u"Đây là tài khoản mẫu của bản demo: không ngân hàng nào nhận "
                                  u"chuyển khoản này."_s,
                                  this);
        sample->setObjectName(u"sampleNote"_s);
        sample->setWordWrap(true);
        sample->setAlignment(Qt::AlignCenter);
        sample->setFixedWidth(400);
        sample->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
        layout->addWidget(sample, 0, Qt::AlignHCenter);
    }
    layout->addWidget(m_copy, 0, Qt::AlignHCenter);
    auto *buttons = new QHBoxLayout;
    auto *later = new QPushButton(u"Để lần sau"_s, this);
    auto *thanks = new QPushButton(u"Cảm ơn"_s, this);
    thanks->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(later);
    buttons->addWidget(thanks);
    layout->addLayout(buttons);

    connect(m_copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_details.accountNumber);
        emit copied(u"Đã sao chép số tài khoản"_s);
    });
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    connect(thanks, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace Tarnwick
