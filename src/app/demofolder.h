#pragma once

#include <QString>

#include <optional>

namespace Tarnwick::DemoFolder {

// The demo's sample folder (a few folders and files of several kinds, for a demo on a machine
// whose home folder is empty), made as "Thư mục mẫu" inside `base`, a folder of the user's own
// (the demo's data folder). `base` must be owned by the user and writable by nobody else; every
// level below it is opened without following a symbolic link and made mode 0700, and files are
// only ever created, never opened when something already stands there. Nothing goes through a
// shared folder such as /tmp, so another local user can neither plant a link that redirects the
// writes nor swap the sample files. Returns the folder, or nothing (with a warning) when a check
// fails.
std::optional<QString> prepare(const QString &base);

} // namespace Tarnwick::DemoFolder
