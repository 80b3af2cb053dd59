#pragma once

#include <QString>

namespace Tarnwick {

class Desktop;

// The user's guide compiled into the program, opened from the Help menu.
namespace HelpPage {

// Where the guide lives among the program's resources.
QString resourcePath();

// Opens the guide in the browser. A browser cannot read our resources, so it is handed a copy in
// the program's cache folder, written anew each time so that an updated program shows its own
// guide. Opens nothing and answers false when the guide is missing or the copy cannot be written.
bool open(Desktop &desktop);

} // namespace HelpPage
} // namespace Tarnwick
