#pragma once

#include "drive/drivefile.h"

namespace Tarnwick {

class Desktop;

// Opens a Drive item's web page on the desktop, but only an https page on Google's web domain or
// below it; an item without a usable link opens by its ID.
void openItemPage(Desktop &desktop, const DriveFile &file);

} // namespace Tarnwick
