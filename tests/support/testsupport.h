#pragma once

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace Tarnwick::Testing {

// Runs the event loop until pred() holds or the timeout passes; returns pred().
bool waitUntil(const std::function<bool()> &pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Creates a file with the given bytes (parents included); returns its absolute path.
QString writeFile(const QString &path, const QByteArray &bytes);

// Where tests keep screenshots and other artefacts; created on first use.
QString artifactDir();

} // namespace Tarnwick::Testing
