#pragma once

#include <QString>

// The glyphs that stand for the interface's symbols. They come from the emoji and DejaVu fonts
// every desktop here ships, so a label and its symbol render as one piece of text.
namespace Symbols {

inline QString play() {
    return QStringLiteral("▶");
}
inline QString stop() {
    return QStringLiteral("■");
}
inline QString folder() {
    return QStringLiteral("📁");
}
inline QString document() {
    return QStringLiteral("📄");
}
inline QString chart() {
    return QStringLiteral("\U0001F4CA");
}
inline QString waveform() {
    return QStringLiteral("〰");
}
inline QString clock() {
    return QStringLiteral("🕘");
}
inline QString micLive() {
    return QStringLiteral("🎤");
}
inline QString micQuiet() {
    return QStringLiteral("🎙");
}
inline QString speaker() {
    return QStringLiteral("🔊");
}
inline QString moon() {
    return QStringLiteral("🌙");
}
inline QString sun() {
    return QStringLiteral("☀");
}
inline QString briefcase() {
    return QStringLiteral("💼");
}
inline QString info() {
    return QStringLiteral("ℹ");
}
inline QString close() {
    return QStringLiteral("✕");
}
inline QString gear() {
    return QStringLiteral("⚙");
}
inline QString smallerText() {
    return QStringLiteral("A−");
}
inline QString biggerText() {
    return QStringLiteral("A+");
}

inline QString sparkles() {
    return QStringLiteral("✨");
}
inline QString micSlash() {
    return QStringLiteral("🔇");
}
inline QString shield() {
    return QStringLiteral("🛡");
}
inline QString granted() {
    return QStringLiteral("✔");
}
inline QString pending() {
    return QStringLiteral("◌");
}
inline QString addDocument() {
    return QStringLiteral("📄");
}
inline QString windows() {
    return QStringLiteral("🪟");
}
inline QString textSize() {
    return QStringLiteral("🔠");
}
inline QString timer() {
    return QStringLiteral("⏱");
}

} // namespace Symbols
