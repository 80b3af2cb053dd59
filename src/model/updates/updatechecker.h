#pragma once

#include "updates/availableupdate.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <stop_token>

namespace Tarnwick {

class HttpEngine;

// The daily look at the version manifest on Tarnwick's own server
// ({"mac": {"version": "1.4.2", "url": "…"}, "notes": "…"}). Nothing is downloaded or installed:
// a newer version is only offered, with the page to get it from.
namespace UpdateChecker {

// Inactivity limit of the manifest request.
inline constexpr std::chrono::seconds requestTimeout{15};
// From the end of one check to the start of the next.
inline constexpr std::chrono::seconds checkInterval{86400};

// Settings key of the version the user chose to skip.
QString skippedVersionKey();
// Where the manifest lives (Endpoints::current().updateManifest).
QUrl manifestURL();
// "Tarnwick-Linux/" and the running version.
QString userAgent();

// Fetches the manifest through `session` and returns offer()'s answer for it. Never fails: no
// network, a status other than 200, a stop, anything else yields nothing.
QCoro::Task<std::optional<AvailableUpdate>> fetch(std::stop_token stop = {});
QCoro::Task<std::optional<AvailableUpdate>> fetch(HttpEngine &session, std::stop_token stop = {});

// What a manifest fetched from `manifest` offers: nothing when it does not decode, when its
// download page is not an https page on the manifest's own host (plain http only on a loopback
// host), when its version is not newer than `running`
// or when it is the skipped one.
std::optional<AvailableUpdate> offer(const QByteArray &body, const QUrl &manifest,
                                     const QString &running, const std::optional<QString> &skipped);

// Whether `candidate` is a later dotted version than `current`, comparing the numbers piece by
// piece (1.10 is later than 1.9; 1.2 and 1.2.0 are the same). A piece that is not a number
// counts as 0.
bool isNewer(const QString &candidate, const QString &current);

} // namespace UpdateChecker
} // namespace Tarnwick
