#include "platform/PortalScreenshot.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>
#include <QUrl>
#include <QtDebug>

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Unguessable, so that no other peer can answer in the portal's place, and a valid object path
// element (letters, digits, '_').
QString requestToken() {
    return QStringLiteral("corvinel_%1").arg(QRandomGenerator::global()->generate64(), 0, 16);
}

// Where portals since 0.9 put the Request: our unique name without ':' and with '.' as '_'.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

ScreenCapture::Result failure(const QString& text) {
    return {QImage(), false, text};
}

} // namespace

PortalScreenshot::PortalScreenshot(QDBusConnection bus, Done done, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_done(std::move(done)) {
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        close();
        finish(failure(tr("The desktop did not deliver the screenshot in time.")));
    });
}

PortalScreenshot::~PortalScreenshot() {
    if (m_pending)
        close();
}

void PortalScreenshot::start(const QString& parentWindow, bool interactive,
                             std::chrono::milliseconds limit) {
    const QString token = requestToken();
    // Subscribed before the call: the portal may answer as soon as it has replied, before a
    // subscription made on its reply would reach the bus.
    listen(requestPath(m_bus, token));
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call << parentWindow
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), interactive}};
    m_limit.start(limit);
    // The call's own time-out comes after the limit, so that a portal that never replies ends
    // as "not in time" rather than passing for a missing one.
    const int callTimeoutMs = int(limit.count()) + 5000;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> handle = *reply;
                if (handle.isError()) {
                    // No portal, or one without a Screenshot interface: ask someone else.
                    qInfo("[Corvinel] no screenshot portal: %s", qPrintable(handle.error().name()));
                    finish(std::nullopt);
                    return;
                }
                // Portals before 0.9 choose the path themselves.
                if (m_pending && handle.value().path() != m_path)
                    listen(handle.value().path());
            });
}

void PortalScreenshot::listen(const QString& path) {
    m_path = path;
    // Any sender: naming the portal's well-known name would make Qt look its owner up with a
    // blocking call. The path holds our unique name and a token nobody else knows.
    m_bus.connect(QString(), path, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalScreenshot::close() {
    // A closed request sends no Response; nothing waits for the answer to this.
    m_bus.send(QDBusMessage::createMethodCall(kPortal, m_path, kRequestInterface,
                                              QStringLiteral("Close")));
}

void PortalScreenshot::onResponse(uint response, const QVariantMap& results) {
    if (response == 1) {
        finish(ScreenCapture::Result{QImage(), true, QString()});
        return;
    }
    if (response != 0) {
        finish(failure(tr("The desktop refused the screenshot.")));
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    QImage image;
    if (uri.isLocalFile())
        image.load(uri.toLocalFile());
    if (image.isNull()) {
        finish(failure(tr("The screenshot the desktop took could not be read.")));
        return;
    }
    finish(ScreenCapture::Result{image, false, QString()});
}

void PortalScreenshot::finish(std::optional<ScreenCapture::Result> result) {
    if (!m_pending)
        return;
    m_pending = false;
    m_limit.stop();
    deleteLater();
    if (m_done)
        m_done(std::move(result));
}
