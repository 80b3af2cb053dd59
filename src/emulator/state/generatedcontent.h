#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace Tarnwick::Emulator::GeneratedContent {

// Generated file contents: every byte is a pure function of (seed, offset), so a file of any size
// costs no memory or disk and any range of it can be produced (and checked) independently.
void fill(quint64 seed, qint64 offset, char *out, qint64 length);
QByteArray bytes(quint64 seed, qint64 offset, qint64 length);

} // namespace Tarnwick::Emulator::GeneratedContent
