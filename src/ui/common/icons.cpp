#include "common/icons.h"

#include "common/palette.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

// The drawings live in a static library: their resources must be registered by hand.
static void registerDrawings()
{
    Q_INIT_RESOURCE(symbols);
    Q_INIT_RESOURCE(appicon);
}

namespace Tarnwick::Icons {

namespace {

struct Symbol
{
    const char16_t *name;
    const char16_t *theme;
};

// Symbol names of the design and their freedesktop counterparts.
constexpr Symbol symbols[] = {
    {u"cup.and.saucer.fill", u"emblem-favorite"},
    {u"doc.on.doc", u"edit-copy"},
    {u"xmark", u"window-close"},
    {u"info.circle", u"dialog-information"},
    {u"lock.shield", u"security-high"},
    {u"checkmark.shield.fill", u"security-high"},
    {u"exclamationmark.circle", u"dialog-error"},
    {u"exclamationmark.triangle.fill", u"dialog-warning"},
    {u"lock", u"changes-prevent"},
    {u"person.crop.circle", u"avatar-default"},
    {u"arrow.up.right", u"go-next"},
    {u"folder.badge.person.crop", u"folder-publicshare"},
    {u"link", u"insert-link"},
    {u"arrow.up.arrow.down", u"view-sort"},
    {u"externaldrive", u"drive-harddisk"},
    {u"person.2", u"system-users"},
    {u"building.2", u"network-workgroup"},
    {u"cup.and.saucer", u"emblem-favorite"},
    {u"chevron.down", u"pan-down"},
    {u"chevron.left", u"go-previous"},
    {u"chevron.right", u"go-next"},
    {u"link.badge.plus", u"insert-link"},
    {u"folder", u"folder"},
    {u"folder.fill", u"folder"},
    {u"folder.badge.plus", u"folder-new"},
    {u"folder.badge.gearshape", u"folder-open"},
    {u"arrow.down", u"go-down"},
    {u"arrow.up", u"go-up"},
    {u"laptopcomputer", u"computer-laptop"},
    {u"externaldrive.badge.icloud", u"folder-remote"},
    {u"arrow.clockwise", u"view-refresh"},
    {u"magnifyingglass", u"edit-find"},
    {u"xmark.circle.fill", u"edit-clear"},
    {u"line.3.horizontal.decrease", u"view-filter"},
    {u"eye", u"document-preview"},
    {u"trash", u"user-trash"},
    {u"trash.slash", u"edit-delete"},
    {u"cloud", u"weather-overcast"},
    {u"checkmark.circle.fill", u"emblem-ok"},
    {u"doc.fill", u"text-x-generic"},
    {u"doc.text.fill", u"x-office-document"},
    {u"wifi.exclamationmark", u"network-error"},
    {u"arrow.up.doc", u"document-send"},
    {u"person.crop.circle.badge.plus", u"contact-new"},
    {u"arrow.down.circle.fill", u"emblem-downloads"},
    {u"exclamationmark.triangle", u"dialog-warning"},
    {u"arrow.down.backward", u"go-down"},
    {u"arrow.up.forward", u"go-up"},
    {u"arrow.turn.down.right", u"go-next"},
    {u"cloud.fill", u"folder-remote"},
    {u"clock", u"appointment-soon"},
    {u"pause.fill", u"media-playback-pause"},
    {u"play.fill", u"media-playback-start"},
    {u"checkmark", u"object-select"},
};

// Renders one of our SVG drawings in a colour, at any size, dimmed when disabled.
class TintedSvgEngine final : public QIconEngine
{
public:
    TintedSvgEngine(QByteArray svg, QColor color)
        : m_svg(std::move(svg))
        , m_color(std::move(color))
    {
    }

    // Tables paint their icons in every row of every repaint: the drawing is rendered once per
    // size and mode, then copied.
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State,
                         qreal scale) override
    {
        const QSize device = size * scale;
        const quint64 key = quint64(quint32(device.width())) << 32 | quint64(device.height()) << 4 |
                            quint64(mode);
        if (auto cached = m_pixmaps.constFind(key); cached != m_pixmaps.cend())
            return *cached;
        QPixmap pixmap(device);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            QSvgRenderer renderer(tinted(mode));
            renderer.render(&painter, QRectF(QPoint(0, 0), device));
        }
        pixmap.setDevicePixelRatio(scale);
        m_pixmaps.insert(key, pixmap);
        return pixmap;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new TintedSvgEngine(m_svg, m_color); }
    QString key() const override { return u"TintedSvgEngine"_s; }

private:
    QByteArray tinted(QIcon::Mode mode) const
    {
        QColor c = m_color;
        if (mode == QIcon::Disabled)
            c.setAlphaF(c.alphaF() * 0.35f);
        QByteArray svg = m_svg;
        svg.replace("currentColor", c.name(QColor::HexRgb).toLatin1());
        if (c.alpha() < 255) {
            const QByteArray opacity = " opacity=\"" + QByteArray::number(c.alphaF(), 'f', 3) + '"';
            svg.replace("<svg ", "<svg" + opacity + ' ');
        }
        return svg;
    }

    QByteArray m_svg;
    QColor m_color;
    QHash<quint64, QPixmap> m_pixmaps; // by device size and mode
};

QByteArray drawing(const QString &name)
{
    static const bool registered = (registerDrawings(), true);
    Q_UNUSED(registered);
    QFile file(u":/symbols/"_s + name + u".svg"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

QIcon symbol(const QString &name, const QColor &color)
{
    // Asked for in every painted row: the key is made without building a string.
    static QHash<std::pair<QString, QRgb>, QIcon> cache;
    const QColor tint = color.isValid() ? color : Palette::text();
    const std::pair<QString, QRgb> key(name, tint.rgba());
    if (auto found = cache.constFind(key); found != cache.cend())
        return *found;
    QIcon icon;
    if (const QByteArray svg = drawing(name); !svg.isEmpty())
        icon = QIcon(new TintedSvgEngine(svg, tint));
    else if (const QString theme = themeName(name); !theme.isEmpty())
        icon = QIcon::fromTheme(theme);
    cache.insert(key, icon);
    return icon;
}

void paintBrandMark(QPainter *painter, const QRectF &rect)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(rect.topLeft(), rect.bottomRight());
    fill.setColorAt(0, Palette::teal().lighter(110));
    fill.setColorAt(1, Palette::teal().darker(125));
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    const qreal radius = rect.width() * 0.25;
    painter->drawRoundedRect(rect, radius, radius);
    const qreal inset = rect.width() * 0.19;
    symbol(u"arrow.up.arrow.down"_s, Palette::background())
        .paint(painter, rect.adjusted(inset, inset, -inset, -inset).toRect());
    painter->restore();
}

QIcon applicationIcon()
{
    static const bool registered = (registerDrawings(), true);
    Q_UNUSED(registered);
    // An installed copy in the icon theme wins, so the window shows what the launcher shows.
    const QString id = QStringLiteral(TARNWICK_APP_ID);
    return QIcon::fromTheme(id, QIcon(u":/app/"_s + id + u".svg"_s));
}

QString themeName(const QString &name)
{
    for (const Symbol &s : symbols) {
        if (name == QStringView(s.name))
            return QString::fromUtf16(s.theme);
    }
    return {};
}

QStringList knownSymbols()
{
    QStringList names;
    for (const Symbol &s : symbols)
        names.append(QString::fromUtf16(s.name));
    return names;
}

void prepareTheme()
{
    // Platforms without a desktop theme (offscreen, plain X11) search only Qt's resources.
    QStringList paths = QIcon::themeSearchPaths();
    const QStringList system = QStandardPaths::locateAll(
        QStandardPaths::GenericDataLocation, u"icons"_s, QStandardPaths::LocateDirectory);
    for (const QString &dir : system + QStringList{QDir::homePath() + u"/.icons"_s}) {
        if (!paths.contains(dir) && QFileInfo(dir).isDir())
            paths.append(dir);
    }
    QIcon::setThemeSearchPaths(paths);

    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != u"hicolor")
        return;
    for (const QString &dir : paths) {
        if (QFile::exists(dir + u"/Adwaita/index.theme"_s)) {
            QIcon::setThemeName(u"Adwaita"_s);
            return;
        }
    }
}

} // namespace Tarnwick::Icons
