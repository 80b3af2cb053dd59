#include "clioutput.h"


#include "records/byteformat.h"
#include "records/displaytext.h"
#include "transfer/transferqueue.h"

#include <QJsonDocument>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace Tarnwick::Cli {

namespace {

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

// At most width characters, so no line wraps and the block can be redrawn in place.
QString fitted(const QString &text, int width)
{
    return text.size() <= width ? text : text.left(width - 1) + u'…';
}

QString remaining(qint64 done, qint64 total, double speed)
{
    return speed > 0 && total > done ? formatRemainingTime(double(total - done) / speed) : QString();
}

QString joined(const QStringList &parts)
{
    QStringList kept;
    for (const QString &part : parts) {
        if (!part.isEmpty())
            kept.append(part);
    }
    return kept.join(u" · "_s);
}

} // namespace

Output::Form Output::detect(bool json)
{
    if (json)
        return Form::Json;
    return ::isatty(STDOUT_FILENO) ? Form::Terminal : Form::Plain;
}

Output::Output(Form form, QObject *parent)
    : QObject(parent)
    , m_form(form)
{
    m_clock.start();
    m_redraw.setInterval(100);
    connect(&m_redraw, &QTimer::timeout, this, &Output::redraw);
}

Output::~Output() = default;

void Output::line(const QString &text)
{
    if (m_form == Form::Json)
        return;
    above(text);
}

void Output::event(const QString &name, QJsonObject fields)
{
    if (m_form != Form::Json)
        return;
    fields.insert(u"event"_s, name);
    write(stdout, QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)) + u'\n');
}

void Output::error(const QString &message)
{
    if (m_form == Form::Terminal)
        clearBlock();
    write(stderr, u"tarnwick-cli: "_s + message + u'\n');
    event(u"error"_s, {{u"message"_s, message}});
    m_dirty = true;
}

void Output::watch(TransferQueue *queue)
{
    m_queue = queue;
    for (const Transfer &t : queue->transfers())
        m_states.insert(t.id, t.state);
    connect(queue, &TransferQueue::transferInserted, this, &Output::transferInserted);
    connect(queue, &TransferQueue::transferChanged, this, &Output::transferChanged);
    if (m_form == Form::Terminal)
        m_redraw.start();
}

void Output::finish()
{
    m_redraw.stop();
    if (m_form == Form::Terminal)
        clearBlock();
}

QJsonObject Output::describe(const Transfer &t)
{
    return {{u"id"_s, t.id.toString(QUuid::WithoutBraces)},
            {u"name"_s, t.name},
            {u"direction"_s, t.isUpload() ? u"upload"_s : u"download"_s},
            {u"done"_s, t.done},
            {u"total"_s, t.total},
            {u"files"_s, t.totalFilesCount}};
}

void Output::transferInserted(int row)
{
    const Transfer &t = m_queue->transfers().at(row);
    m_states.insert(t.id, t.state);
    event(u"queued"_s, describe(t));
}

void Output::transferChanged(int row)
{
    const Transfer &t = m_queue->transfers().at(row);
    m_dirty = true;
    const TransferState before = m_states.value(t.id, TransferState::Waiting);
    if (before != t.state) {
        m_states.insert(t.id, t.state);
        QJsonObject fields = describe(t);
        if (t.state == TransferState::Failed)
            fields.insert(u"message"_s, t.detail);
        // A run starting is announced as "started"; every other change by the state's key.
        event(t.state == TransferState::Working ? u"started"_s
                                                : QString::fromLatin1(stateKey(t.state)),
              fields);
        const QString name = DisplayText::shown(t.name);
        switch (t.state) {
        case TransferState::Working:
            line((t.isUpload() ? u"Bắt đầu tải lên: "_s : u"Bắt đầu tải xuống: "_s) + name);
            break;
        case TransferState::Failed:
            line(u"Lỗi: "_s + name + u": "_s + DisplayText::message(t.detail));
            break;
        case TransferState::Cancelled:
            line(u"Đã hủy: "_s + name);
            break;
        case TransferState::Paused:
            line(u"Đã tạm dừng: "_s + name);
            break;
        case TransferState::Waiting:
        case TransferState::Done: // the notification says it
            break;
        }
    }
    if (m_form != Form::Json || t.state != TransferState::Working)
        return;
    // Each file as it starts, and progress at most ten times a second per transfer.
    QSet<int> &seen = m_filesSeen[t.id];
    for (const FileInFlight &file : t.filesInFlight) {
        if (seen.contains(file.fileIndex))
            continue;
        seen.insert(file.fileIndex);
        QJsonObject fields = describe(t);
        fields.insert(u"file"_s, file.fileName);
        fields.insert(u"index"_s, file.fileIndex);
        fields.insert(u"bytes"_s, file.total);
        event(u"file"_s, fields);
    }
    const qint64 now = m_clock.elapsed();
    if (now - m_lastProgress.value(t.id, -1000) < 100)
        return;
    m_lastProgress.insert(t.id, now);
    QJsonObject fields = describe(t);
    fields.insert(u"speed"_s, t.speed);
    event(u"progress"_s, fields);
}

void Output::postNotification(const TransferNotification &notification)
{
    // The JSON form has its "done" event already.
    line(DisplayText::message(notification.body));
}

void Output::clearBlock()
{
    if (m_drawn == 0)
        return;
    write(stdout, u"\x1b[%1A\r\x1b[J"_s.arg(m_drawn));
    m_drawn = 0;
}

void Output::above(const QString &text)
{
    if (m_form == Form::Terminal)
        clearBlock();
    write(stdout, text + u'\n');
    m_dirty = true;
}

void Output::redraw()
{
    if (!m_dirty || !m_queue)
        return;
    m_dirty = false;
    const int width = terminalWidth();
    QStringList lines;
    qint64 done = 0;
    qint64 total = 0;
    double speed = 0;
    int running = 0;
    bool limited = false;
    // The total counts what already arrived too, so it only grows while the command runs.
    for (const Transfer &t : m_queue->transfers()) {
        if (t.state == TransferState::Cancelled)
            continue;
        done += t.done;
        total += t.total;
        if (t.state != TransferState::Working)
            continue;
        ++running;
        speed += t.speed;
        const QString amount = t.total > 0 ? formatByteCount(t.done) + u" / "_s
                                                  + formatByteCount(t.total)
                                            : QString();
        const QString percent =
            t.preparing() ? DisplayText::message(t.detail) : QString::number(t.percentage()) + u'%';
        QStringList parts{percent, amount, formatSpeed(t.speed),
                          remaining(t.done, t.total, t.speed)};
        if (t.limitedUntil.isValid()) {
            // Held back by Google's limits: the window's words, counting down.
            parts = {percent, amount, TransferDetail::limitWait(t.limitedUntil)};
            limited = true;
        }
        lines.append(fitted((t.isUpload() ? u"↑ "_s : u"↓ "_s) + DisplayText::shown(t.name, 60)
                                + u"  "_s + joined(parts),
                            width));
    }
    // A countdown moves with the clock, not with the transfers.
    if (limited)
        m_dirty = true;
    if (running > 0)
        lines.append(fitted(u"Tổng: "_s
                                + joined({formatByteCount(done) + u" / "_s + formatByteCount(total),
                                          formatSpeed(speed), remaining(done, total, speed)}),
                            width));
    clearBlock();
    QString text;
    for (const QString &l : std::as_const(lines))
        text += u"\r\x1b[2K"_s + l + u'\n';
    write(stdout, text);
    m_drawn = int(lines.size());
}

} // namespace Tarnwick::Cli
