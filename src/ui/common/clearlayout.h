#pragma once

class QLayout;

namespace Tarnwick {

// Empties layout at once; its widgets are hidden and deleted once the current event is done,
// since one of them (a clicked button) may be running the very update that rebuilds the layout.
void clearLayout(QLayout *layout);

} // namespace Tarnwick
