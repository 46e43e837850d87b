#pragma once

#include <QRect>
#include <QString>
#include <optional>

// The window frame as it is stored: "{{x, y}, {w, h}}". A frame smaller than 380 by 300 is not
// worth restoring: it is what a broken desktop or a half-finished drag leaves behind.
namespace WindowFrame {
inline constexpr int minRestorableWidth = 380;
inline constexpr int minRestorableHeight = 300;

QString format(const QRect& frame);
// Any unreadable text reads as no frame.
std::optional<QRect> parse(const QString& text);
// The frame to restore from the stored text, if it is readable and large enough.
std::optional<QRect> restorable(const QString& text);
} // namespace WindowFrame
