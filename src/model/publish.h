#pragma once

#include <utility>

namespace Tarnwick {

// Assigns a published member of owner and announces the change; nothing when the value is the
// same, so views redraw only for news.
template<typename Owner, typename T, typename Signal>
void publish(Owner *owner, T &member, T value, Signal changed)
{
    if (member == value)
        return;
    member = std::move(value);
    emit(owner->*changed)();
}

} // namespace Tarnwick
