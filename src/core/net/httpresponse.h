#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

namespace Tarnwick {

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

// A complete answer: every status counts, telling success from failure is the caller's business.
struct HttpResponse
{
    int status = 0;
    // In arrival order, names as the server spelt them, values without surrounding blanks.
    HttpHeaders headers;
    // What the default in-memory sink collected; empty when a sink of the caller took the body.
    QByteArray body;

    // The first header of that name (ASCII case-insensitive); empty when absent.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;

    bool operator==(const HttpResponse &) const = default;
};

} // namespace Tarnwick
