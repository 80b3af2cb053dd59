#include "automationprobe.h"

#include "appmodel.h"
#include "browse/localbrowser.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "queue/transferrowdelegate.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabBar>
#include <QTableView>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

QJsonArray rectJson(const QRect &r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

QRect globalRect(const QWidget *w, const QRect &local)
{
    return QRect(w->mapToGlobal(local.topLeft()), local.size());
}

QString idOf(const QObject *object)
{
    return u"0x"_s + QString::number(quintptr(object), 16);
}

QString plain(const QString &text, Qt::TextFormat format)
{
    if (format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text)))
        return QTextDocumentFragment::fromHtml(text).toPlainText();
    return text;
}

const char *buttonName(QueueTexts::RowButton::Kind kind)
{
    switch (kind) {
    case QueueTexts::RowButton::Pause:
        return "pause";
    case QueueTexts::RowButton::Resume:
        return "resume";
    case QueueTexts::RowButton::Retry:
        return "retry";
    case QueueTexts::RowButton::Cancel:
        return "cancel";
    }
    return "";
}

QJsonObject actionJson(const QAction *action, const QString &menu)
{
    QJsonObject a{{"id"_L1, idOf(action)},
                  {"text"_L1, action->text()},
                  {"menu"_L1, menu},
                  {"enabled"_L1, action->isEnabled()},
                  {"visible"_L1, action->isVisible()},
                  {"shortcut"_L1, action->shortcut().toString(QKeySequence::PortableText)}};
    if (!action->toolTip().isEmpty() && action->toolTip() != action->text())
        a.insert("tooltip"_L1, action->toolTip());
    if (action->isCheckable())
        a.insert("checked"_L1, action->isChecked());
    return a;
}

// Rows of an item view that show in its viewport, with each visible column's text and place.
void addRows(const QAbstractItemView *view, const QModelIndex &parent, QJsonArray &rows)
{
    const QAbstractItemModel *model = view->model();
    const auto *tree = qobject_cast<const QTreeView *>(view);
    const auto *table = qobject_cast<const QTableView *>(view);
    const auto *queue = qobject_cast<const TransferRowDelegate *>(view->itemDelegate());
    const QRect port = view->viewport()->rect();
    const QFontMetrics metrics(view->font());
    for (int row = 0; row < model->rowCount(parent) && rows.size() < 300; ++row) {
        const QModelIndex first = model->index(row, 0, parent);
        const QRect rowRect = view->visualRect(first);
        if (rowRect.isValid() && rowRect.intersects(port)) {
            QJsonArray cells;
            QJsonArray buttons;
            for (int column = 0; column < model->columnCount(parent); ++column) {
                if ((tree && tree->isColumnHidden(column)) ||
                    (table && table->isColumnHidden(column)))
                    continue;
                const QModelIndex cell = model->index(row, column, parent);
                const QRect rect = view->visualRect(cell).intersected(port);
                if (rect.isEmpty())
                    continue;
                const QString text = cell.data(Qt::DisplayRole).toString();
                QJsonObject c{{"column"_L1, column},
                              {"text"_L1, text},
                              {"rect"_L1, rectJson(globalRect(view->viewport(), rect))},
                              {"textWidth"_L1, metrics.horizontalAdvance(text)}};
                const QString tip = cell.data(Qt::ToolTipRole).toString();
                if (!tip.isEmpty())
                    c.insert("tooltip"_L1, tip);
                const QString below = cell.data(Qt::AccessibleDescriptionRole).toString();
                if (!below.isEmpty())
                    c.insert("description"_L1, below);
                cells.append(c);
                if (queue) {
                    for (const auto &placed :
                         TransferRowDelegate::buttons(cell, view->visualRect(cell))) {
                        // A button half out of view cannot be clicked where it is drawn.
                        if (!port.contains(placed.rect))
                            continue;
                        buttons.append(QJsonObject{
                            {"kind"_L1, QString::fromLatin1(buttonName(placed.button.kind))},
                            {"hint"_L1, placed.button.hint},
                            {"rect"_L1, rectJson(globalRect(view->viewport(), placed.rect))}});
                    }
                }
            }
            QJsonObject r{{"row"_L1, row},
                          {"depth"_L1, parent.isValid() ? 1 : 0},
                          {"selected"_L1, view->selectionModel() &&
                                              view->selectionModel()->isRowSelected(row, parent)},
                          {"cells"_L1, cells}};
            if (!buttons.isEmpty())
                r.insert("buttons"_L1, buttons);
            rows.append(r);
        }
        if (tree && model->hasChildren(first) && tree->isExpanded(first))
            addRows(view, first, rows);
    }
}

QJsonObject widgetJson(QWidget *w)
{
    QJsonObject o{{"class"_L1, QString::fromLatin1(w->metaObject()->className())},
                  {"rect"_L1, rectJson(globalRect(w, w->rect()))},
                  {"enabled"_L1, w->isEnabled()}};
    if (!w->objectName().isEmpty())
        o.insert("name"_L1, w->objectName());
    if (!w->toolTip().isEmpty())
        o.insert("tooltip"_L1, w->toolTip());
    if (w->hasFocus())
        o.insert("focus"_L1, true);
    QString text;
    if (auto *label = qobject_cast<QLabel *>(w)) {
        text = plain(label->text(), label->textFormat());
        if (!label->wordWrap() && !text.contains(u'\n') && label->pixmap().isNull()) {
            const int width = label->fontMetrics().horizontalAdvance(text);
            o.insert("textWidth"_L1, width);
            o.insert("width"_L1, label->contentsRect().width() - 2 * label->margin());
        }
    } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        text = button->text();
        if (button->isCheckable())
            o.insert("checked"_L1, button->isChecked());
    } else if (auto *line = qobject_cast<QLineEdit *>(w)) {
        text = line->text();
        if (!line->placeholderText().isEmpty())
            o.insert("placeholder"_L1, line->placeholderText());
    } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
        text = group->title();
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        text = combo->currentText();
    } else if (auto *edit = qobject_cast<QTextEdit *>(w)) {
        text = edit->toPlainText();
    } else if (auto *edit = qobject_cast<QPlainTextEdit *>(w)) {
        text = edit->toPlainText();
    } else if (auto *tabs = qobject_cast<QTabBar *>(w)) {
        QJsonArray names;
        for (int i = 0; i < tabs->count(); ++i)
            names.append(tabs->tabText(i));
        o.insert("tabs"_L1, names);
    } else if (auto *header = qobject_cast<QHeaderView *>(w)) {
        QJsonArray sections;
        for (int i = 0; i < header->count(); ++i) {
            if (header->isSectionHidden(i) || !header->model())
                continue;
            sections.append(
                header->model()->headerData(i, header->orientation(), Qt::DisplayRole).toString());
        }
        o.insert("sections"_L1, sections);
    }
    if (!text.isEmpty())
        o.insert("text"_L1, text);
    if (auto *view = qobject_cast<QAbstractItemView *>(w); view && view->model()) {
        QJsonArray rows;
        addRows(view, view->rootIndex(), rows);
        o.insert("rows"_L1, rows);
    }
    if (auto *bar = qobject_cast<QMenuBar *>(w)) {
        QJsonArray menus;
        for (QAction *a : bar->actions()) {
            QJsonObject m = actionJson(a, {});
            m.insert("rect"_L1, rectJson(globalRect(bar, bar->actionGeometry(a))));
            menus.append(m);
        }
        o.insert("menus"_L1, menus);
    }
    if (auto *menu = qobject_cast<QMenu *>(w)) {
        QJsonArray items;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator() || !a->isVisible())
                continue;
            QJsonObject m = actionJson(a, menu->title());
            m.insert("rect"_L1, rectJson(globalRect(menu, menu->actionGeometry(a))));
            if (menu->activeAction() == a)
                m.insert("active"_L1, true);
            items.append(m);
        }
        o.insert("items"_L1, items);
    }
    return o;
}

void addWidgets(QWidget *w, QJsonArray &out)
{
    if (!w->isVisible())
        return;
    out.append(widgetJson(w));
    for (QObject *child : w->children()) {
        if (auto *cw = qobject_cast<QWidget *>(child); cw && !cw->isWindow())
            addWidgets(cw, out);
    }
}

// Every action a window holds, its menus' included, by the title of the menu it sits in.
void addActions(QWidget *window, QJsonArray &out)
{
    QSet<const QAction *> seen;
    std::function<void(QMenu *)> walk = [&](QMenu *menu) {
        for (QAction *a : menu->actions()) {
            if (a->isSeparator() || seen.contains(a))
                continue;
            seen.insert(a);
            if (a->menu())
                walk(a->menu());
            else
                out.append(actionJson(a, menu->title()));
        }
    };
    if (auto *main = qobject_cast<QMainWindow *>(window)) {
        for (QAction *a : main->menuBar()->actions()) {
            seen.insert(a);
            if (a->menu())
                walk(a->menu());
        }
    }
    for (QAction *a : window->findChildren<QAction *>()) {
        if (seen.contains(a) || a->isSeparator() || a->menu())
            continue;
        // Actions of a widget that is not on the screen cannot be reached by the user.
        bool shown = false;
        for (QObject *user : a->associatedObjects()) {
            if (auto *w = qobject_cast<QWidget *>(user); w && w->isVisible())
                shown = true;
        }
        if (!shown)
            continue;
        seen.insert(a);
        out.append(actionJson(a, {}));
    }
}

QAction *findAction(const QString &id)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (idOf(top) == id)
            continue;
        for (QAction *a : top->findChildren<QAction *>()) {
            if (idOf(a) == id)
                return a;
        }
    }
    return nullptr;
}

QJsonObject dump()
{
    QJsonArray windows;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->windowType() == Qt::ToolTip ||
            top->windowType() == Qt::Desktop)
            continue;
        QJsonArray widgets;
        addWidgets(top, widgets);
        QJsonArray actions;
        addActions(top, actions);
        QJsonObject window{{"id"_L1, idOf(top)},
                           {"class"_L1, QString::fromLatin1(top->metaObject()->className())},
                           {"title"_L1, top->windowTitle()},
                           {"rect"_L1, rectJson(top->frameGeometry())},
                           {"modal"_L1, top->isModal()},
                           {"popup"_L1, top->windowType() == Qt::Popup},
                           {"active"_L1, top->isActiveWindow()},
                           {"widgets"_L1, widgets},
                           {"actions"_L1, actions}};
        if (qobject_cast<QMainWindow *>(top))
            window.insert("main"_L1, true);
        windows.append(window);
    }
    QJsonObject o{{"windows"_L1, windows}};
    if (QWidget *focus = QApplication::focusWidget())
        o.insert("focus"_L1,
                 QString::fromLatin1(focus->metaObject()->className()) + u'#' + focus->objectName());
    return o;
}

} // namespace

AutomationProbe::AutomationProbe(AppModel *model, Extension extension, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_extension(std::move(extension))
    , m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

AutomationProbe::~AutomationProbe() = default;

bool AutomationProbe::listen()
{
    const QString path = qEnvironmentVariable("TARNWICK_AUTOMATION_SOCKET");
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        qWarning("automation probe: cannot listen at %s", qPrintable(path));
        return false;
    }
    return true;
}

void AutomationProbe::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine();
            const QJsonObject reply = answer(QJsonDocument::fromJson(line).object());
            socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
            socket->flush();
        }
    });
}

QJsonObject AutomationProbe::answer(const QJsonObject &request)
{
    const QString command = request.value("cmd"_L1).toString();
    if (command == "dump"_L1)
        return dump();
    if (command == "trigger"_L1) {
        QAction *action = findAction(request.value("id"_L1).toString());
        if (!action)
            return {{"error"_L1, u"no such action"_s}};
        // After this answer: a command may open a dialog with an event loop of its own.
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
        return {{"ok"_L1, true}};
    }
    if (command == "shot"_L1) {
        const QString path = request.value("path"_L1).toString();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QScreen *screen = QGuiApplication::primaryScreen();
        const bool saved = screen && screen->grabWindow(0).save(path, "PNG");
        return {{"ok"_L1, saved}};
    }
    if (command == "transfers"_L1) {
        QJsonArray list;
        if (m_model) {
            for (const Transfer &t : m_model->transfers().list())
                list.append(QJsonObject{
                    {"name"_L1, t.name},
                    {"upload"_L1, t.isUpload()},
                    {"state"_L1, QString::fromLatin1(stateKey(t.state))},
                    {"done"_L1, double(t.done)},
                    {"total"_L1, double(t.total)},
                    {"detail"_L1, t.detail},
                    {"workers"_L1, int(t.filesInFlight.size())}});
        }
        return {{"transfers"_L1, list}};
    }
    if (command == "state"_L1) {
        if (!m_model)
            return {};
        return {{"connected"_L1, m_model->connection().connected()},
                {"email"_L1, m_model->connection().accountEmail()},
                {"local"_L1, m_model->local().localURL().value_or(QString())}};
    }
    if (m_extension) {
        const QJsonObject extra = m_extension(request);
        if (!extra.isEmpty())
            return extra;
    }
    return {{"error"_L1, u"unknown request"_s}};
}

} // namespace Tarnwick
