#include "settings/SecretStore.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QStringDecoder>

// The freedesktop Secret Service is Linux's keychain. Nothing here may prompt the user: only
// items that are already unlocked are read, and every failure means "no key".
namespace {
const QString kService = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
constexpr int kTimeoutMs = 5000;

QDBusMessage call(const QDBusConnection& bus, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, kTimeoutMs);
}

bool succeeded(const QDBusMessage& reply, int minArguments) {
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() >= minArguments;
}
} // namespace

namespace Keychain {

std::optional<QString> get(const QString& account) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    qDBusRegisterMetaType<QMap<QString, QString>>();

    const QDBusMessage opened =
        call(bus, kServicePath, kServiceInterface, QStringLiteral("OpenSession"),
             {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    if (!succeeded(opened, 2))
        return std::nullopt;
    const QDBusObjectPath session = opened.arguments().at(1).value<QDBusObjectPath>();

    std::optional<QString> result;
    const QMap<QString, QString> attributes{
        {QStringLiteral("service"), QStringLiteral("com.brisendo.corvinel")},
        {QStringLiteral("account"), account}};
    const QDBusMessage found =
        call(bus, kServicePath, kServiceInterface, QStringLiteral("SearchItems"),
             {QVariant::fromValue(attributes)});
    const auto unlocked = succeeded(found, 1)
                              ? qdbus_cast<QList<QDBusObjectPath>>(found.arguments().at(0))
                              : QList<QDBusObjectPath>();
    if (!unlocked.isEmpty()) {
        const QDBusMessage secrets =
            call(bus, kServicePath, kServiceInterface, QStringLiteral("GetSecrets"),
                 {QVariant::fromValue(QList<QDBusObjectPath>{unlocked.first()}),
                  QVariant::fromValue(session)});
        if (succeeded(secrets, 1)) {
            const QDBusArgument map = secrets.arguments().at(0).value<QDBusArgument>();
            map.beginMap();
            while (!map.atEnd() && !result) {
                QDBusObjectPath item, secretSession;
                QByteArray parameters, value;
                QString contentType;
                map.beginMapEntry();
                map >> item;
                map.beginStructure();
                map >> secretSession >> parameters >> value >> contentType;
                map.endStructure();
                map.endMapEntry();
                QStringDecoder utf8(QStringDecoder::Utf8);
                const QString text = utf8.decode(value);
                if (!utf8.hasError() && !text.isEmpty())
                    result = text;
            }
            map.endMap();
        }
    }
    call(bus, session.path(), QStringLiteral("org.freedesktop.Secret.Session"),
         QStringLiteral("Close"), {});
    return result;
}

} // namespace Keychain
