#pragma once

#include "platform/ScreenCapture.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <optional>

// One Screenshot call to the desktop portal (org.freedesktop.portal.Screenshot), from the call
// to its Request's Response signal. `done` runs once: with the result, or with nothing when the
// bus has no screenshot portal to ask. The object deletes itself after answering; deleted
// earlier, it closes the desktop's dialog and answers nothing.
class PortalScreenshot : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<ScreenCapture::Result>)>;
    PortalScreenshot(QDBusConnection bus, Done done, QObject* parent);
    ~PortalScreenshot() override;

    // `parentWindow`: the window the desktop's dialog belongs to, in the portals' form.
    void start(const QString& parentWindow, bool interactive, std::chrono::milliseconds limit);

private slots:
    void onResponse(uint response, const QVariantMap& results);

private:
    void listen(const QString& path);
    void close();
    void finish(std::optional<ScreenCapture::Result> result);

    QDBusConnection m_bus;
    Done m_done;
    QString m_path; // the Request object's: the one we asked for, until the reply names another
    QTimer m_limit;
    bool m_pending = true;
};
