#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// Headless Chromium drawing a local page as a reader's browser would: a profile of its own, no
// network (a proxy nobody answers on 127.0.0.1), the window 1000 × 1400.
struct ChromiumShot {
    QString missing; // why Chromium could not run (not installed), for GTEST_SKIP
    int exitCode = -1;
    QString pageErrors; // what it said about the page: console messages, failed loads
    QImage image;       // the screenshot; null when none was saved
};

// `dark`: the reader prefers dark colours. The screenshot goes to `png`.
ChromiumShot renderInChromium(const QString& page, const QString& png, bool dark = false);

// How many pixels of `image` are within `tolerance` of `colour` in every channel.
int pixelsNear(const QImage& image, const QColor& colour, int tolerance = 24);
