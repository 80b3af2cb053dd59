#pragma once

#include "transfer/transfer.h"
#include "transfer/transfernotifier.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUuid>

namespace Tarnwick {
class TransferQueue;
}

namespace Tarnwick::Cli {

// Everything the command line tells its user, in one of three forms: on a terminal, a progress
// line per running transfer and a total, redrawn at most ten times a second, with events above
// them; elsewhere, plain lines per event; with --json, one JSON object per line and event.
//
// Names from Drive or the disk are shown through DisplayText in the first two forms; JSON carries
// them as they are (its escaping keeps controls harmless). Errors go to stderr in every form.
class Output final : public QObject, public TransferNotifier
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Output)

public:
    enum class Form { Terminal, Plain, Json };
    // Terminal when stdout is one, unless json.
    static Form detect(bool json);

    explicit Output(Form form, QObject *parent = nullptr);
    ~Output() override;

    Form form() const { return m_form; }
    bool json() const { return m_form == Form::Json; }

    // A line of the command's own result (a listing, the account); in JSON form nothing.
    void line(const QString &text);
    // One JSON event; nothing unless in JSON form.
    void event(const QString &name, QJsonObject fields);
    // A failure: "tarnwick-cli: " and the message on stderr, and an "error" event.
    void error(const QString &message);

    // Follows the queue's transfers: their starts, ends and progress.
    void watch(TransferQueue *queue);
    // The last drawing, without the progress block; before the process ends.
    void finish();

    // The completion notice the window posts, as a line.
    void postNotification(const TransferNotification &notification) override;

private:
    void transferChanged(int row);
    void transferInserted(int row);
    void redraw();
    void clearBlock();
    void above(const QString &text);
    static QJsonObject describe(const Transfer &transfer);

    Form m_form;
    TransferQueue *m_queue = nullptr; // not owned
    QHash<QUuid, TransferState> m_states;
    QHash<QUuid, QSet<int>> m_filesSeen;
    QHash<QUuid, qint64> m_lastProgress; // ms of the timer, per transfer
    QElapsedTimer m_clock;
    QTimer m_redraw;
    bool m_dirty = false;
    int m_drawn = 0; // lines of the progress block on the screen
};

} // namespace Tarnwick::Cli
