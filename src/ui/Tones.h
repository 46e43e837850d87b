#pragma once

#include <QColor>

// The few signal colours of the interface; chosen to read on both light and dark backgrounds.
namespace Tones {

inline QColor green() {
    return QColor(0x34, 0xC7, 0x59);
}
inline QColor orange() {
    return QColor(0xFF, 0x95, 0x00);
}
inline QColor red() {
    return QColor(0xFF, 0x3B, 0x30);
}
inline QColor accent() {
    return QColor(0x0A, 0x84, 0xFF);
}
inline QColor secondary() {
    return QColor(0x8E, 0x8E, 0x93);
}

// `color` at `opacity` (0…1).
inline QColor faded(QColor color, double opacity) {
    color.setAlphaF(float(opacity));
    return color;
}

} // namespace Tones
