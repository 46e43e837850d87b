#pragma once

#include <utility>

// Stores `value` in `field` and says whether that changed it, so that a property's setter
// emits its signal only on a real change: `if (assignIfChanged(m_x, x)) emit xChanged();`.
template <typename Field, typename Value> bool assignIfChanged(Field& field, Value&& value) {
    if (field == value)
        return false;
    field = std::forward<Value>(value);
    return true;
}
