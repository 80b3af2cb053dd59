#include "common/palette.h"

#include "common/icons.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

using namespace Qt::StringLiterals;

namespace Tarnwick::Palette {

namespace {
QColor rgb(double r, double g, double b, double a = 1.0)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

QString css(const QColor &c)
{
    return c.alpha() == 255
               ? c.name()
               : u"rgba(%1, %2, %3, %4)"_s.arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF(),
                                                                                         0, 'f', 3);
}
} // namespace

QColor background()
{
    return rgb(0.065, 0.084, 0.1);
}
QColor sidebar()
{
    return rgb(0.08, 0.106, 0.12);
}
QColor panel()
{
    return rgb(0.093, 0.12, 0.137);
}
QColor teal()
{
    return rgb(0.37, 0.88, 0.72);
}
QColor muted()
{
    return rgb(0.53, 0.61, 0.64);
}
QColor line()
{
    return rgb(1, 1, 1, 0.075);
}
QColor text()
{
    return rgb(0.9, 0.93, 0.94);
}
QColor destructive()
{
    return rgb(1.0, 0.42, 0.42);
}

void apply(QApplication &app)
{
    // Fusion draws every control from the palette, so the dark colours hold on any desktop.
    if (QStyle *fusion = QStyleFactory::create(u"Fusion"_s))
        app.setStyle(fusion);

    QPalette p;
    const QColor base = background();
    const QColor raised = panel();
    p.setColor(QPalette::Window, base);
    p.setColor(QPalette::WindowText, text());
    p.setColor(QPalette::Base, raised);
    p.setColor(QPalette::AlternateBase, sidebar());
    p.setColor(QPalette::Text, text());
    p.setColor(QPalette::Button, sidebar().lighter(125));
    p.setColor(QPalette::ButtonText, text());
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, teal().darker(260));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, sidebar().lighter(140));
    p.setColor(QPalette::ToolTipText, text());
    p.setColor(QPalette::PlaceholderText, muted());
    p.setColor(QPalette::Link, teal());
    p.setColor(QPalette::Light, raised.lighter(150));
    p.setColor(QPalette::Midlight, raised.lighter(125));
    p.setColor(QPalette::Mid, raised.darker(120));
    p.setColor(QPalette::Dark, base.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, muted().darker(140));
    p.setColor(QPalette::Disabled, QPalette::Button, sidebar());
    app.setPalette(p);

    QString sheet = uR"(
QWidget#sidebar { background: @sidebar; border-right: 1px solid @line; }
QFrame#pane { background: @panel; border: 1px solid @line; border-radius: 10px; }
QFrame#queuePanel { background: @panel; border: 1px solid @line; border-radius: 10px; }
QWidget#toolbarRow, QWidget#statusRow { background: @background; }
QWidget#statusRow { border-top: 1px solid @line; }
QLabel[role="muted"] { color: @muted; }
QLabel[role="section"] { color: @muted; font-size: 10px; font-weight: 600; letter-spacing: 1px;
    padding-top: 4px; padding-bottom: 1px; }
QLabel[role="title"] { font-weight: 600; }
QLabel[role="brand"] { font-size: 15px; font-weight: 700; }
QLabel[role="emptyTitle"] { font-size: 15px; font-weight: 600; }
QPushButton, QToolButton { border: 1px solid @line; border-radius: 6px; padding: 4px 10px;
    background: rgba(255, 255, 255, 0.04); color: @text; }
QPushButton:hover, QToolButton:hover { background: rgba(255, 255, 255, 0.09); }
QPushButton:pressed, QToolButton:pressed { background: rgba(255, 255, 255, 0.14); }
QPushButton:disabled, QToolButton:disabled { color: @disabled; background: transparent; }
QToolButton::menu-indicator, QPushButton::menu-indicator { image: none; width: 0; }
QFileDialog QToolButton { padding: 2px; }
QPushButton[primary="true"] { background: @teal; color: @background; border: none; font-weight: 600;
    padding: 6px 16px; }
QPushButton[primary="true"]:hover { background: @tealHover; }
QPushButton[primary="true"]:disabled { background: rgba(94, 224, 184, 0.25); color: @background; }
QPushButton[flat="true"] { border: none; background: transparent; }
QPushButton[flat="true"]:hover { background: rgba(255, 255, 255, 0.07); }
QPushButton[link="true"] { border: none; background: transparent; color: @teal; padding: 2px 4px; }
QPushButton[side="true"] { border: none; background: transparent; text-align: left;
    padding: 7px 10px; border-radius: 7px; }
QPushButton[side="true"]:hover { background: rgba(255, 255, 255, 0.06); }
QPushButton[side="true"][active="true"] { background: rgba(94, 224, 184, 0.14); color: @teal; }
QLineEdit { background: rgba(255, 255, 255, 0.05); border: 1px solid @line; border-radius: 6px;
    padding: 4px 6px; color: @text; selection-background-color: @selection; }
QLineEdit:focus { border: 1px solid rgba(94, 224, 184, 0.6); }
QTableView { background: transparent; border: none; selection-background-color: @selection;
    outline: 0; }
QHeaderView { background: transparent; }
QHeaderView::section { background: transparent; color: @muted; border: none;
    border-bottom: 1px solid @line; padding: 4px 6px; font-size: 11px; }
QMenu { background: @sidebar; border: 1px solid @line; padding: 4px; }
QMenu::item { padding: 5px 22px 5px 24px; border-radius: 4px; }
QMenu::item:selected { background: rgba(94, 224, 184, 0.18); }
QMenu::item:disabled { color: @disabled; }
QMenu::separator { height: 1px; background: @line; margin: 4px 6px; }
QMessageBox { background: @sidebar; }
QMessageBox QLabel#qt_msgbox_label { font-weight: 600; font-size: 14px; min-width: 340px; }
QMessageBox QLabel#qt_msgbox_informativelabel { color: @muted; min-width: 340px; }
QToolTip { background: @sidebar; color: @text; border: 1px solid @line; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
QScrollBar::handle:vertical { background: rgba(255, 255, 255, 0.14); border-radius: 4px;
    min-height: 30px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0; width: 0; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
QScrollBar::handle:horizontal { background: rgba(255, 255, 255, 0.14); border-radius: 4px;
    min-width: 30px; }
QPushButton:focus, QToolButton:focus, QPushButton[flat="true"]:focus,
QPushButton[side="true"]:focus, QPushButton[link="true"]:focus { border: 1px solid @teal; }
QPushButton[primary="true"]:focus { border: 2px solid @text; }
QLineEdit:focus { border: 1px solid @teal; }
QTableView:focus { border: 1px solid rgba(94, 224, 184, 0.6); border-radius: 4px; }
QComboBox:focus, QCheckBox:focus { outline: 1px solid @teal; }
)"_s;
    // Longest names first, so that no name is a prefix of another at replacement time.
    const std::pair<QString, QColor> colours[] = {
        {u"@destructive"_s, destructive()},
        {u"@background"_s, background()},
        {u"@selection"_s, teal().darker(260)},
        {u"@tealHover"_s, teal().lighter(112)},
        {u"@disabled"_s, muted().darker(140)},
        {u"@sidebar"_s, sidebar()},
        {u"@muted"_s, muted()},
        {u"@panel"_s, panel()},
        {u"@line"_s, line()},
        {u"@text"_s, text()},
        {u"@teal"_s, teal()},
    };
    for (const auto &[name, colour] : colours)
        sheet.replace(name, css(colour));
    app.setStyleSheet(sheet);
    app.setWindowIcon(Icons::applicationIcon());
}

} // namespace Tarnwick::Palette
