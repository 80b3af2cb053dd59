#pragma once

#include <QColor>

class QApplication;

namespace Tarnwick {

// The window's colours (sRGB). The application applies them once as its QPalette and a small
// style sheet; widgets that paint themselves read them from here.
namespace Palette {

QColor background();
QColor sidebar();
QColor panel();
QColor teal();  // accent: active items, status dots, drop highlight
QColor muted(); // secondary text, inactive dots
QColor line();  // separators: white at 7.5 %
QColor text();
QColor destructive();

// Installs the palette, the style sheet and the window icon on the application.
void apply(QApplication &app);

} // namespace Palette

} // namespace Tarnwick
