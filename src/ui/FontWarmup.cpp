#include "ui/FontWarmup.h"

#include "ui/Symbols.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>

FontWarmup::FontWarmup() {
    // A font of its own: copies of one QFont share a private part that caches its engine.
    const QFont appFont = QGuiApplication::font();
    m_thread = std::thread([family = appFont.family(), points = appFont.pointSizeF()] {
        QFontDatabase::families();
        QFont font(family);
        font.setPointSizeF(points);
        // The control bar's symbols come from the emoji font: finding it is the slow part.
        QFontMetricsF(font).horizontalAdvance(Symbols::folder() + Symbols::gear() +
                                              Symbols::clock() + QStringLiteral("Start"));
    });
}

FontWarmup::~FontWarmup() {
    m_thread.join();
}
