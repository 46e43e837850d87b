#include "support/Chromium.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

ChromiumShot renderInChromium(const QString& page, const QString& png, bool dark) {
    ChromiumShot shot;
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) {
        shot.missing = QStringLiteral("chromium is missing (Debian package chromium)");
        return shot;
    }
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--hide-scrollbars"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--disable-component-update"),
                          QStringLiteral("--proxy-server=127.0.0.1:9"),
                          QStringLiteral("--enable-logging=stderr"),
                          QStringLiteral("--user-data-dir=") + png + QStringLiteral(".profile"),
                          QStringLiteral("--window-size=1000,1400"),
                          QStringLiteral("--screenshot=") + png};
    if (dark)
        arguments << QStringLiteral("--force-dark-mode");
    arguments << QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()).toString();
    QProcess process;
    process.start(chromium, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    shot.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // Its own complaints (no system bus, no GPU) are not the page's.
    const QString name = QFileInfo(page).fileName();
    for (const QString& line : QString::fromUtf8(process.readAllStandardError()).split(u'\n'))
        if (line.contains(QStringLiteral(":CONSOLE")) || line.contains(name) ||
            line.contains(QStringLiteral("net::ERR")))
            shot.pageErrors += line + u'\n';
    shot.image.load(png);
    return shot;
}

int pixelsNear(const QImage& image, const QColor& colour, int tolerance) {
    int count = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            count += std::abs(qRed(row[x]) - colour.red()) <= tolerance &&
                     std::abs(qGreen(row[x]) - colour.green()) <= tolerance &&
                     std::abs(qBlue(row[x]) - colour.blue()) <= tolerance;
    }
    return count;
}
