#include "sheets/sharesheet.h"
#include "browse/sharing.h"

#include "common/clearlayout.h"
#include "common/icons.h"
#include "common/palette.h"

#include "async/async.h"
#include "records/errors.h"
#include "records/displaytext.h"
#include "browse/sharesheetform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

struct RoleChoice
{
    QString value;
    QString label;
};

QList<RoleChoice> offeredRoles()
{
    return {{u"writer"_s, u"Người chỉnh sửa (Editor)"_s},
            {u"commenter"_s, u"Người nhận xét (Commenter)"_s},
            {u"reader"_s, u"Người xem (Viewer)"_s}};
}

QLabel *sectionLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setProperty("role", u"muted"_s);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    // Marks stacked on Vietnamese capitals ("Ế", "Ữ") rise above the font's ascent: room for
    // them, or they are cut off.
    label->setContentsMargins(0, label->fontMetrics().height() / 2, 0, 0);
    return label;
}

QProgressBar *busyBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setFixedSize(60, 6);
    bar->setTextVisible(false);
    return bar;
}

} // namespace

QString ShareSheet::roleTitle(const QString &role)
{
    if (role == u"writer")
        return u"Người chỉnh sửa"_s;
    if (role == u"commenter")
        return u"Người nhận xét"_s;
    if (role == u"reader")
        return u"Người xem"_s;
    if (role == u"owner")
        return u"Chủ sở hữu"_s;
    return role;
}

ShareSheet::ShareSheet(Sharing *sharing, DriveFile file, QWidget *parent)
    : QDialog(parent)
    , m_sharing(sharing)
    , m_file(std::move(file))
    , m_form(new ShareSheetForm(this))
    , m_email(new QLineEdit(this))
    , m_role(new QComboBox(this))
    , m_notify(new QCheckBox(u"Gửi email thông báo cho người này"_s, this))
    , m_share(new QPushButton(u"Chia sẻ"_s, this))
    , m_adding(busyBar(this))
    , m_errorIcon(new QLabel(this))
    , m_error(new WrappingLabel(this, 6))
    , m_refresh(new QPushButton(u"Làm mới danh sách"_s, this))
    , m_loading(busyBar(this))
    , m_list(new QWidget(this))
    , m_listLayout(new QVBoxLayout(m_list))
    , m_copyLink(new QPushButton(u"Sao chép link"_s, this))
    , m_done(new QPushButton(u"Xong"_s, this))
{
    const bool folder = m_file.isFolder();
    setWindowTitle(u"Chia sẻ \""_s + DisplayText::shown(m_file.name) + u"\""_s);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(480);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *icon = new QLabel(this);
    icon->setPixmap(
        Icons::symbol(folder ? u"folder.badge.person.crop"_s : u"person.crop.circle.badge.plus"_s,
                      Palette::teal())
            .pixmap(28, 28));
    header->addWidget(icon, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    // Names and addresses come from Drive: plain text, never markup.
    auto *title = new QLabel(u"Chia sẻ \""_s + DisplayText::shown(m_file.name, 80) + u"\""_s, this);
    title->setTextFormat(Qt::PlainText);
    title->setToolTip(Qt::convertFromPlainText(
        DisplayText::shown(m_file.name, DisplayText::messageLimit), Qt::WhiteSpaceNormal));
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    auto *subtitle =
        new QLabel(folder ? u"Thư mục trên Google Drive"_s : u"Tệp tin trên Google Drive"_s, this);
    subtitle->setProperty("role", u"muted"_s);
    titles->addWidget(title);
    titles->addWidget(subtitle);
    header->addLayout(titles, 1);
    layout->addLayout(header);

    layout->addWidget(sectionLabel(u"THÊM NGƯỜI HOẶC NHÓM"_s, this));
    m_email->setPlaceholderText(u"Nhập địa chỉ email người nhận…"_s);
    layout->addWidget(m_email);
    auto *formRow = new QHBoxLayout;
    for (const RoleChoice &choice : offeredRoles())
        m_role->addItem(choice.label, choice.value);
    formRow->addWidget(m_role);
    formRow->addStretch(1);
    formRow->addWidget(m_adding);
    formRow->addWidget(m_share);
    m_share->setDefault(true);
    layout->addLayout(formRow);
    layout->addWidget(m_notify);
    auto *errorRow = new QHBoxLayout;
    errorRow->setSpacing(6);
    m_errorIcon->setPixmap(
        Icons::symbol(u"exclamationmark.triangle.fill"_s, Palette::destructive()).pixmap(14, 14));
    m_errorIcon->setAlignment(Qt::AlignTop);
    errorRow->addWidget(m_errorIcon);
    m_error->setWordWrap(true);
    m_error->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
    errorRow->addWidget(m_error, 1);
    layout->addLayout(errorRow);

    auto *listHead = new QHBoxLayout;
    listHead->addWidget(sectionLabel(u"DANH SÁCH CÓ QUYỀN TRUY CẬP"_s, this), 1);
    listHead->addWidget(m_loading);
    m_refresh->setIcon(Icons::symbol(u"arrow.clockwise"_s));
    m_refresh->setProperty("flat", true);
    listHead->addWidget(m_refresh);
    layout->addLayout(listHead);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(6);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_list);
    scroll->setMinimumHeight(160);
    layout->addWidget(scroll, 1);

    auto *footer = new QHBoxLayout;
    m_copyLink->setIcon(Icons::symbol(u"link"_s));
    footer->addWidget(m_copyLink);
    footer->addStretch(1);
    footer->addWidget(m_done);
    layout->addLayout(footer);

    // Controls → form and sharing.
    connect(m_email, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_form->setEmail(text); });
    connect(m_role, &QComboBox::currentIndexChanged, this,
            [this] { m_form->setRole(m_role->currentData().toString()); });
    connect(m_notify, &QCheckBox::toggled, m_form, &ShareSheetForm::setSendNotify);
    connect(m_share, &QPushButton::clicked, this, [this] {
        if (m_sharing && !m_form->isAdding() && !m_form->email().trimmed().isEmpty())
            detach(m_sharing->addCollaborator(m_form), {});
    });
    connect(m_email, &QLineEdit::returnPressed, m_share, &QPushButton::click);
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_sharing)
            detach(m_sharing->loadPermissions(m_file), {});
    });
    connect(m_copyLink, &QPushButton::clicked, this, [this] {
        if (m_sharing)
            detach(m_sharing->copyShareLink(m_file), {});
    });
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);

    // Form and sharing → controls.
    connect(m_form, &ShareSheetForm::changed, this, &ShareSheet::updateForm);
    connect(sharing, &Sharing::sharingPermissionsChanged, this, &ShareSheet::updateList);
    connect(sharing, &Sharing::loadingPermissionsChanged, this, &ShareSheet::updateList);
    connect(sharing, &Sharing::sharingErrorChanged, this, &ShareSheet::updateForm);
    m_notify->setChecked(m_form->sendNotify());
    updateForm();
    updateList();
}

void ShareSheet::updateForm()
{
    if (m_email->text() != m_form->email())
        m_email->setText(m_form->email());
    const bool adding = m_form->isAdding();
    m_adding->setVisible(adding);
    m_share->setVisible(!adding);
    m_share->setEnabled(!m_form->email().trimmed().isEmpty());
    // The sheet's own error first, else why the list could not be loaded.
    const QString modelError =
        m_sharing ? m_sharing->sharingError().value_or(QString()) : QString();
    const QString error = m_form->localError().value_or(modelError);
    m_error->setFullText(DisplayText::message(error));
    m_error->setVisible(!error.isEmpty());
    m_errorIcon->setVisible(!error.isEmpty());
}

void ShareSheet::updateList()
{
    if (!m_sharing)
        return;
    m_loading->setVisible(m_sharing->loadingPermissions());
    clearLayout(m_listLayout);
    const QList<DrivePermission> &permissions = m_sharing->sharingPermissions();
    if (permissions.isEmpty() && !m_sharing->loadingPermissions()) {
        auto *none = new QLabel(u"Chưa có cộng tác viên nào"_s, m_list);
        none->setProperty("role", u"muted"_s);
        m_listLayout->addWidget(none);
    }
    for (const DrivePermission &permission : permissions)
        m_listLayout->addWidget(permissionRow(permission));
    m_listLayout->addStretch(1);
}

QWidget *ShareSheet::permissionRow(const DrivePermission &permission)
{
    auto *row = new QWidget(m_list);
    row->setObjectName(u"permission"_s);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    auto *texts = new QVBoxLayout;
    const QString email = permission.emailAddress.value_or(QString());
    const bool anyone = permission.type == u"anyone";
    auto *name = new QLabel(DisplayText::shown(permission.displayName.value_or(email)), row);
    name->setTextFormat(Qt::PlainText);
    name->setVisible(!name->text().isEmpty());
    texts->addWidget(name);
    if (!email.isEmpty()) {
        auto *mail = new QLabel(DisplayText::shown(email), row);
        mail->setTextFormat(Qt::PlainText);
        mail->setProperty("role", u"muted"_s);
        texts->addWidget(mail);
    }
    layout->addLayout(texts, 1);

    // The owner and a link for anyone are not edited here.
    if (permission.role == u"owner" || anyone) {
        auto *role = new QLabel(permission.role == u"owner" ? roleTitle(permission.role)
                                                            : u"Bất kỳ ai có liên kết"_s,
                                row);
        role->setObjectName(u"fixedRole"_s);
        role->setProperty("role", u"muted"_s);
        layout->addWidget(role);
        return row;
    }
    auto *button = new QToolButton(row);
    button->setObjectName(u"roleMenu"_s);
    button->setText(roleTitle(permission.role));
    button->setIcon(Icons::symbol(u"chevron.down"_s, Palette::muted()));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(button);
    for (const RoleChoice &choice : offeredRoles()) {
        menu->addAction(choice.label, this, [this, permission, value = choice.value] {
            if (!m_sharing)
                return;
            QPointer<ShareSheet> self(this);
            QPointer<Sharing> sharing = m_sharing;
            detach(
                [](QPointer<Sharing> sharing, QPointer<ShareSheet> self, DriveFile file,
                   DrivePermission permission, QString value) -> QCoro::Task<> {
                    try {
                        auto changing =
                            sharing->updateCollaboratorRole(file, permission, value);
                        co_await changing;
                    } catch (const Cancelled &) {
                    } catch (const Failure &failure) {
                        if (self)
                            self->m_form->setLocalError(failure.description());
                    }
                }(sharing, self, m_file, permission, value),
                {});
        });
    }
    menu->addSeparator();
    menu->addAction(u"Xoá quyền truy cập"_s, this, [this, permission] {
        if (m_sharing)
            detach(m_sharing->removeCollaborator(m_form, permission), {});
    });
    button->setMenu(menu);
    layout->addWidget(button);
    return row;
}

} // namespace Tarnwick
