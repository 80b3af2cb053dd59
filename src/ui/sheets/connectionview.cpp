#include "sheets/connectionview.h"

#include "common/icons.h"
#include "common/palette.h"

#include "async/async.h"
#include "net/endpoints.h"
#include "records/displaytext.h"
#include "connection/driveconnection.h"
#include "desktop.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// A line of an icon and a wrapped text.
QWidget *iconLine(const QString &symbol, QLabel *text, QWidget *parent,
                  const QColor &color = QColor())
{
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto *icon = new QLabel(line);
    icon->setPixmap(Icons::symbol(symbol, color).pixmap(16, 16));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);
    text->setParent(line);
    text->setWordWrap(true);
    row->addWidget(text, 1);
    return line;
}

QWidget *card(const QString &symbol, const QString &title, const QString &text, QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(u"card"_s);
    frame->setFrameShape(QFrame::StyledPanel);
    auto *row = new QHBoxLayout(frame);
    auto *icon = new QLabel(frame);
    icon->setPixmap(Icons::symbol(symbol, Palette::teal()).pixmap(24, 24));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);
    auto *texts = new QVBoxLayout;
    auto *heading = new QLabel(title, frame);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto *body = new QLabel(text, frame);
    body->setWordWrap(true);
    body->setProperty("role", u"muted"_s);
    texts->addWidget(heading);
    texts->addWidget(body);
    row->addLayout(texts, 1);
    return frame;
}

} // namespace

ConnectionView::ConnectionView(DriveConnection *connection, QWidget *parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_title(new QLabel(this))
    , m_subtitle(new QLabel(this))
    , m_note(new QLabel)
    , m_states(new QStackedWidget(this))
    , m_connectedPage(new QWidget(this))
    , m_signInPage(new QWidget(this))
    , m_disconnect(new QPushButton(u"Ngắt kết nối"_s, this))
    , m_done(new QPushButton(u"Xong"_s, this))
    , m_notConfigured(new QLabel(
          u"Đăng nhập Google chưa được kích hoạt trong bản thử nghiệm này. Nhà phát triển sẽ thiết "
          u"lập sẵn trước khi phát hành."_s))
    , m_error(new WrappingLabel(nullptr, 6))
    , m_developerToggle(new QToolButton(this))
    , m_developer(new QWidget(this))
    , m_import(new QPushButton(this))
    , m_configured(new QLabel(u"Đã có cấu hình thử nghiệm trên máy này."_s, this))
    , m_progress(new QProgressBar(this))
    , m_cancelLogin(new QPushButton(u"Hủy đăng nhập"_s, this))
    , m_login(new QPushButton(Icons::symbol(u"arrow.up.right"_s, Palette::background()),
                              u"Đăng nhập Google"_s, this))
{
    setWindowTitle(u"Kết nối Google Drive"_s);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(460);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 18);
    layout->setSpacing(12);

    // Header.
    auto *header = new QHBoxLayout;
    auto *brand = new QLabel(this);
    QPixmap mark(40, 40);
    mark.fill(Qt::transparent);
    {
        QPainter painter(&mark);
        painter.setRenderHint(QPainter::Antialiasing);
        Icons::paintBrandMark(&painter, QRectF(0, 0, 40, 40));
    }
    brand->setPixmap(mark);
    header->addWidget(brand, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    QFont big = m_title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    m_title->setFont(big);
    m_subtitle->setProperty("role", u"muted"_s);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    auto *close = new QToolButton(this);
    close->setIcon(Icons::symbol(u"xmark"_s));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &QDialog::reject);
    header->addWidget(close, 0, Qt::AlignTop);
    layout->addLayout(header);
    QWidget *note = iconLine(u"info.circle"_s, m_note, this, Palette::teal());
    note->hide();
    layout->addWidget(note);

    // Connected.
    auto *connected = new QVBoxLayout(m_connectedPage);
    connected->setContentsMargins(0, 0, 0, 0);
    connected->addWidget(
        iconLine(u"checkmark.shield.fill"_s,
                 new QLabel(u"Phiên đăng nhập được lưu trong kho mật khẩu của máy."_s),
                 m_connectedPage, Palette::teal()));
    auto *explanation = new QLabel(
        u"Ngắt kết nối sẽ xóa phiên đăng nhập trên máy này. Anh có thể thu hồi quyền Tarnwick "
        u"trong tài khoản Google."_s,
        m_connectedPage);
    explanation->setWordWrap(true);
    explanation->setProperty("role", u"muted"_s);
    connected->addWidget(explanation);
    auto *connectedButtons = new QHBoxLayout;
    connectedButtons->addWidget(m_disconnect);
    connectedButtons->addStretch(1);
    connectedButtons->addWidget(m_done);
    connected->addStretch(1);
    connected->addLayout(connectedButtons);
    m_states->addWidget(m_connectedPage);

    // Not connected.
    auto *signIn = new QVBoxLayout(m_signInPage);
    signIn->setContentsMargins(0, 0, 0, 0);
    signIn->setSpacing(10);
    QWidget *notConfigured = iconLine(u"info.circle"_s, m_notConfigured, m_signInPage);
    notConfigured->setObjectName(u"notConfigured"_s);
    signIn->addWidget(notConfigured);
    signIn->addWidget(card(u"person.crop.circle"_s, u"Dùng tài khoản Google của anh"_s,
                           u"Chọn tài khoản trong trình duyệt, sau đó cho phép Tarnwick truy cập "
                           u"Google Drive."_s,
                           m_signInPage));
    signIn->addWidget(card(u"lock.shield"_s, u"Drive của mỗi người luôn riêng biệt"_s,
                           u"File được truyền giữa máy tính và tài khoản Drive của anh. Phiên đăng "
                           u"nhập được lưu trong kho mật khẩu của máy này."_s,
                           m_signInPage));
    m_error->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
    signIn->addWidget(
        iconLine(u"exclamationmark.circle"_s, m_error, m_signInPage, Palette::destructive()));

    m_developerToggle->setText(u"Dành cho nhà phát triển"_s);
    m_developerToggle->setCheckable(true);
    m_developerToggle->setAutoRaise(true);
    m_developerToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_developerToggle->setArrowType(Qt::RightArrow);
    signIn->addWidget(m_developerToggle);
    auto *developer = new QVBoxLayout(m_developer);
    developer->setContentsMargins(18, 0, 0, 0);
    auto *developerText = new QLabel(
        u"Bản phát hành mang sẵn cấu hình Google chung của Tarnwick. Chỉ dùng mục này để thử "
        u"nghiệm cấu hình trên máy phát triển."_s,
        m_developer);
    developerText->setWordWrap(true);
    developerText->setProperty("role", u"muted"_s);
    developer->addWidget(developerText);
    auto *importRow = new QHBoxLayout;
    importRow->addWidget(m_import);
    importRow->addStretch(1);
    developer->addLayout(importRow);
    m_configured->setStyleSheet(u"color: %1;"_s.arg(Palette::teal().name()));
    developer->addWidget(m_configured);
    auto *console = new QPushButton(u"Mở Google Cloud Console ↗"_s, m_developer);
    console->setObjectName(u"consoleLink"_s);
    console->setProperty("flat", true);
    console->setCursor(Qt::PointingHandCursor);
    developer->addWidget(console, 0, Qt::AlignLeft);
    m_developer->hide();
    signIn->addWidget(m_developer);
    signIn->addStretch(1);

    auto *footer = new QHBoxLayout;
    auto *lock = new QLabel(u"Bảo vệ bởi Google & kho mật khẩu"_s);
    lock->setProperty("role", u"muted"_s);
    footer->addWidget(iconLine(u"lock"_s, lock, m_signInPage, Palette::muted()));
    lock->setWordWrap(false);
    footer->addStretch(1);
    m_progress->setRange(0, 0);
    m_progress->setFixedSize(60, 6);
    m_progress->setTextVisible(false);
    footer->addWidget(m_progress);
    footer->addWidget(m_cancelLogin);
    m_login->setDefault(true);
    m_login->setProperty("primary", true);
    // Disabled, it is the primary button at opacity 0.4 (below), not the dimmer disabled style.
    m_login->setStyleSheet(
        u"QPushButton:disabled { background: %1; }"_s.arg(Palette::teal().name()));
    footer->addWidget(m_login);
    signIn->addLayout(footer);
    m_states->addWidget(m_signInPage);
    layout->addWidget(m_states, 1);

    connect(m_developerToggle, &QToolButton::toggled, this, [this](bool shown) {
        m_developerToggle->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
        m_developer->setVisible(shown);
        adjustSize();
    });
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_disconnect, &QPushButton::clicked, this, [this] {
        if (!m_connection)
            return;
        QPointer<ConnectionView> self(this);
        QPointer<DriveConnection> connection = m_connection;
        detach(
            [](QPointer<DriveConnection> connection, QPointer<ConnectionView> self) -> QCoro::Task<> {
                auto disconnecting = connection->disconnect();
                co_await disconnecting;
                if (self)
                    self->accept();
            }(connection, self),
            {});
    });
    connect(m_login, &QPushButton::clicked, this, [this] {
        if (m_connection)
            m_connection->login();
    });
    connect(m_cancelLogin, &QPushButton::clicked, this, [this] {
        if (m_connection)
            m_connection->cancelLogin();
    });
    connect(m_import, &QPushButton::clicked, this, [this] {
        if (m_connection)
            detach(m_connection->importConfiguration(), {});
    });
    connect(console, &QPushButton::clicked, this, [this] {
        if (!m_connection)
            return;
        QUrl dashboard = Endpoints::current().cloudConsole;
        dashboard.setPath(u"/apis/dashboard"_s);
        m_connection->desktop().openUrl(dashboard);
    });

    for (auto changed : {&DriveConnection::connectedChanged, &DriveConnection::configuredChanged,
                         &DriveConnection::managedGoogleChanged, &DriveConnection::connectingChanged,
                         &DriveConnection::accountEmailChanged, &DriveConnection::connectionErrorChanged})
        connect(connection, changed, this, &ConnectionView::update);
    update();
}

void ConnectionView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    fitHeight();
}

void ConnectionView::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    fitHeight();
}

void ConnectionView::fitHeight()
{
    // The first size comes from the size hint; at the width it ends up with, texts may wrap into
    // more lines than that hint allowed for.
    if (!isVisible())
        return;
    layout()->activate();
    const int needed = layout()->totalHeightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

void ConnectionView::setNote(const QString &note)
{
    m_note->setText(note);
    m_note->parentWidget()->setVisible(!note.isEmpty());
}

void ConnectionView::update()
{
    if (!m_connection)
        return;
    const bool connected = m_connection->connected();
    const bool configured = m_connection->configured();
    const bool connecting = m_connection->connecting();
    m_title->setText(connected ? u"Không gian đã kết nối"_s : u"Chào Google Drive."_s);
    // The address and an error's words come from Google's answers: plain text, never markup.
    m_subtitle->setTextFormat(Qt::PlainText);
    m_error->setTextFormat(Qt::PlainText);
    m_subtitle->setText(connected ? DisplayText::shown(m_connection->accountEmail())
                                  : u"Kết nối một lần. Duyệt file và kéo thả mỗi ngày."_s);
    m_states->setCurrentWidget(connected ? m_connectedPage : m_signInPage);

    m_notConfigured->parentWidget()->setVisible(!configured);
    m_error->setFullText(DisplayText::message(m_connection->connectionError().value_or(QString())));
    m_error->parentWidget()->setVisible(m_connection->connectionError().has_value());
    const bool developer = !m_connection->managedGoogle();
    m_developerToggle->setVisible(developer);
    m_developer->setVisible(developer && m_developerToggle->isChecked());
    m_import->setText(configured ? u"Thay cấu hình thử nghiệm…"_s : u"Nhập cấu hình thử nghiệm…"_s);
    m_import->setEnabled(!connecting);
    m_configured->setVisible(configured);

    m_progress->setVisible(connecting);
    m_cancelLogin->setVisible(connecting);
    m_login->setVisible(!connecting);
    m_login->setEnabled(configured);
    auto *dim = new QGraphicsOpacityEffect(m_login);
    dim->setOpacity(configured ? 1.0 : 0.4);
    m_login->setGraphicsEffect(dim);
    fitHeight();
}

} // namespace Tarnwick
