// screen_capture_probe OUT.png COLOUR: covers the left half of the primary screen with COLOUR,
// captures the screen through makeScreenCapture() and saves the picture to OUT.png; exits 1 with
// the error on stderr. A program of its own because a process has one Qt platform, and the
// tests' is offscreen.
#include "platform/ScreenCapture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {
class Cover : public QRasterWindow {
public:
    QColor colour;
    std::function<void()> painted;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), colour);
        // Queued: the picture goes to the X server when this returns, and the grab, on the same
        // connection, comes after it.
        if (painted)
            QTimer::singleShot(0, this, std::exchange(painted, {}));
    }
};
} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const std::unique_ptr<ScreenCapture> capture = makeScreenCapture();
    Cover cover;
    cover.colour = QColor(QString::fromLatin1(argv[2]));
    cover.painted = [&] {
        capture->capture(false, [&](const ScreenCapture::Result& result) {
            std::fputs(qPrintable(result.error + u'\n'), stderr);
            app.exit(result.image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1);
        });
    };
    const QRect screen = app.primaryScreen()->geometry();
    cover.setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    cover.setGeometry(screen.x(), screen.y(), screen.width() / 2, screen.height());
    cover.show();
    return app.exec();
}
