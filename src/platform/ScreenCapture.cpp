#include "platform/ScreenCapture.h"

#include "platform/PortalScreenshot.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPixmap>
#include <QScreen>

namespace {

// The portal first, as it is the only way onto a Wayland screen and asks the user where the
// desktop wants that; where the bus has none, the X server's own picture.
class DesktopScreenCapture final : public ScreenCapture {
public:
    DesktopScreenCapture(QDBusConnection bus, QString platformName, ScreenCaptureLimits limits)
        : m_bus(std::move(bus)), m_platformName(std::move(platformName)), m_limits(limits) {}

    void capture(bool interactive, std::function<void(const Result&)> done) override {
        auto answer = [this, done = std::move(done)](std::optional<Result> result) {
            deliver(result ? std::move(*result) : fallBack(), done);
        };
        if (!m_bus.isConnected()) {
            answer(std::nullopt);
            return;
        }
        auto* request = new PortalScreenshot(m_bus, std::move(answer), &m_requests);
        request->start(m_parentWindow, interactive, interactive ? m_limits.pick : m_limits.grab);
    }

    void setParentWindow(const QString& handle) override { m_parentWindow = handle; }

private:
    Result fallBack() const {
        if (m_platformName != u"xcb")
            return {QImage(), false,
                    QCoreApplication::translate("ScreenCapture",
                                                "No screenshot service is available on this "
                                                "desktop.")};
        QScreen* screen = QGuiApplication::primaryScreen();
        const QImage image = screen ? screen->grabWindow(0).toImage() : QImage();
        if (image.isNull())
            return {QImage(), false,
                    QCoreApplication::translate("ScreenCapture",
                                                "Nothing could be captured from the screen.")};
        return {image, false, QString()};
    }

    // Always from the event loop, so that the caller never hears back inside capture() or
    // inside the request's own signal; dropped once this capture is gone.
    void deliver(Result result, const std::function<void(const Result&)>& done) {
        QMetaObject::invokeMethod(
            &m_requests,
            [result = std::move(result), done] {
                if (done)
                    done(result);
            },
            Qt::QueuedConnection);
    }

    QDBusConnection m_bus;
    const QString m_platformName;
    const ScreenCaptureLimits m_limits;
    QString m_parentWindow;
    QObject m_requests; // parent of the requests under way and of the answers on their way
};

} // namespace

std::unique_ptr<ScreenCapture> makeScreenCapture() {
    return makeScreenCapture(QDBusConnection::sessionBus(), QGuiApplication::platformName());
}

std::unique_ptr<ScreenCapture> makeScreenCapture(const QDBusConnection& bus,
                                                 const QString& platformName,
                                                 ScreenCaptureLimits limits) {
    return std::make_unique<DesktopScreenCapture>(bus, platformName, limits);
}

QByteArray encodeForModel(const QImage& image, int maxSide) {
    if (image.isNull())
        return {};
    const QImage scaled =
        std::max(image.width(), image.height()) > maxSide
            ? image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    scaled.save(&buffer, "JPEG", 85);
    return bytes;
}
