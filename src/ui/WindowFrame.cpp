#include "ui/WindowFrame.h"

#include <QRegularExpression>

namespace WindowFrame {

QString format(const QRect& frame) {
    return QStringLiteral("{{%1, %2}, {%3, %4}}")
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

std::optional<QRect> parse(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*\{\s*\{\s*(-?\d+(?:\.\d+)?)\s*,\s*(-?\d+(?:\.\d+)?)\s*\}\s*,\s*)"
                       R"(\{\s*(\d+(?:\.\d+)?)\s*,\s*(\d+(?:\.\d+)?)\s*\}\s*\}\s*$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    auto number = [&match](int group) { return qRound(match.captured(group).toDouble()); };
    return QRect(number(1), number(2), number(3), number(4));
}

std::optional<QRect> restorable(const QString& text) {
    const std::optional<QRect> frame = parse(text);
    if (!frame || frame->width() < minRestorableWidth || frame->height() < minRestorableHeight)
        return std::nullopt;
    return frame;
}

} // namespace WindowFrame
