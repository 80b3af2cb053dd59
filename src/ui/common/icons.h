#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
#include <QIcon>
#include <QString>
#include <QStringList>

namespace Tarnwick::Icons {

// The icon for a symbol name of the design ("arrow.up.arrow.down", "checkmark.circle.fill"…),
// drawn in `color` (the text colour when invalid) and dimmed when disabled. Our own drawings come
// first because they are made for the window's dark colours (a desktop theme's symbolic icons are
// dark grey and vanish on it); a symbol without a drawing falls back to the freedesktop theme
// icon of themeName().
QIcon symbol(const QString &name, const QColor &color = QColor());

// The application's icon: the theme's icon named after the desktop entry, else the bundled
// drawing of the same icon. Ask after prepareTheme(), which decides where the theme is looked up.
QIcon applicationIcon();
// Paints the brand mark into rect.
void paintBrandMark(QPainter *painter, const QRectF &rect);

// The freedesktop icon-theme name standing in for a symbol; empty when there is none.
QString themeName(const QString &name);

// Every symbol name the window uses.
QStringList knownSymbols();

// Lets theme lookups (file-type icons) find a full icon theme where the platform names none,
// as under the offscreen and plain X11 platforms.
void prepareTheme();

} // namespace Tarnwick::Icons
