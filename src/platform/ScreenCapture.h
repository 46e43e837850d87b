#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QImage>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

// A picture of the screen, taken when the user asks ("Ask About the Screen").
class ScreenCapture {
public:
    struct Result {
        QImage image;
        bool cancelled = false; // the user closed the desktop's dialog: nothing to tell them
        QString error;          // user-facing, empty on success
    };
    virtual ~ScreenCapture() = default;
    // `interactive`: let the user pick an area (where the desktop offers it). `done` runs once,
    // on the calling (main) thread, never inside capture(); not at all once this is gone.
    virtual void capture(bool interactive, std::function<void(const Result&)> done) = 0;
    // The window the desktop's dialog belongs to, in the portals' form ("x11:…"); empty for
    // none.
    virtual void setParentWindow(const QString& handle) = 0;
};

// How long the desktop may take before the capture ends with an error. Picking an area takes
// the user a while; a plain grab can still wait on the question some desktops ask the first time.
struct ScreenCaptureLimits {
    std::chrono::milliseconds pick{std::chrono::seconds(60)};
    std::chrono::milliseconds grab{std::chrono::seconds(30)};
};

// The desktop portal on the session bus; where no portal answers, Qt's own grab on the xcb
// platform (X11, or XWayland, where it sees only X11 windows); else an error that says so.
std::unique_ptr<ScreenCapture> makeScreenCapture();
// The same over `bus`, for a process whose Qt platform is `platformName`.
std::unique_ptr<ScreenCapture> makeScreenCapture(const QDBusConnection& bus,
                                                 const QString& platformName,
                                                 ScreenCaptureLimits limits = {});

// A JPEG (quality 85) for the model, smoothly scaled down so that its long side is at most
// `maxSide` pixels (never enlarged); empty for a null image.
QByteArray encodeForModel(const QImage& image, int maxSide = 1600);
