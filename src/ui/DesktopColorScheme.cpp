#include "ui/DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
} // namespace

DesktopColorScheme::DesktopColorScheme(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    read << kGroup << kKey;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (!reply.isError())
                    take(reply.value().variant());
                call->deleteLater();
            });
}

std::optional<bool> DesktopColorScheme::prefersDark(const QVariant& value) {
    QVariant inner = value;
    while (inner.metaType() == QMetaType::fromType<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = inner.toUInt(&ok);
    if (!ok || inner.metaType().id() == QMetaType::QString)
        return std::nullopt;
    return scheme == 1;
}

void DesktopColorScheme::onSettingChanged(const QString& group, const QString& key,
                                          const QDBusVariant& value) {
    if (group == kGroup && key == kKey)
        take(value.variant());
}

void DesktopColorScheme::take(const QVariant& value) {
    const std::optional<bool> dark = prefersDark(value);
    if (!dark || *dark == m_dark)
        return;
    m_dark = *dark;
    emit prefersDarkChanged();
}
