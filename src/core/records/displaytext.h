#pragma once

#include <QString>
#include <QStringView>

namespace Tarnwick {

// How text from outside (names from Drive or from the disk, a server's own messages) is shown:
// as the characters it holds, never reordered by invisible controls and never so long that laying
// it out stalls the window. Labels that show it are plain text (never markup); this is the other
// half.
//
// Invisible controls become visible escapes such as "[U+202E]": the bidirectional embeddings,
// overrides and isolates (U+202A–U+202E, U+2066–U+2069), which could make "rlo\u202Etxt.exe"
// read as a text file, the marks (U+200E, U+200F, U+061C), line and paragraph separators and
// the C0 and C1 controls (line breaks, tabs). Left-to-right and right-to-left letters keep their
// natural order, so Arabic or Hebrew names read as they should.
namespace DisplayText {

// Most characters shown of one name (cells, titles, crumbs).
inline constexpr qsizetype nameLimit = 255;
// Most characters shown of a message or a tooltip, which may quote a name.
inline constexpr qsizetype messageLimit = 1000;

// The text with its invisible controls shown as escapes.
QString neutralised(QStringView text);

// At most `limit` characters of the text, then neutralised. A longer text keeps its start and
// its end (where a name's extension is) around "…", never splitting a surrogate pair. Costs
// O(limit) however long the text is, so a name of megabytes stays cheap to show; the whole text
// is only ever copied, never shown.
QString shown(const QString &text, qsizetype limit = nameLimit);

// A message that may quote outside text (a name, a server's answer): as shown(), except that its
// line breaks stay line breaks, since they are the message's own layout. The application's own
// fixed texts need neither: they are shown as they are.
QString message(const QString &text, qsizetype limit = messageLimit);

} // namespace DisplayText
} // namespace Tarnwick
