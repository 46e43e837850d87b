#include "platform/GlobalShortcuts.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// One element of the portal's a(sa{sv}) shortcut lists: an id and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
}

// Tokens end the Request and session paths; random, so that another library's calls in this
// process never land on ours.
QString token() {
    return QStringLiteral("corvinel%1").arg(QRandomGenerator::global()->generate());
}

// The portal names a caller's Request objects after its unique name (":1.42" → "1_42"), which
// is what lets the caller listen for the answer before it asks.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return kPath + QStringLiteral("/request/") + sender + u'/' + token;
}

QString objectPath(const QVariant& value) {
    // Documented as "s" by mistake and kept so; a portal that sends "o" means the same.
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantMap argumentMap(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

} // namespace

GlobalShortcuts::GlobalShortcuts(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    registerTypes();
}

GlobalShortcuts::~GlobalShortcuts() {
    closeSession();
}

void GlobalShortcuts::bind(const QList<Shortcut>& shortcuts) {
    if (m_state == State::binding)
        return;
    closeSession();
    m_shortcuts = shortcuts;
    m_bindings.clear();
    for (const Shortcut& shortcut : shortcuts)
        m_bindings.append({shortcut.id, {}});
    // A call on a bus that is not there is never answered: no bus, no portal.
    if (!m_bus.isConnected()) {
        setState(State::unavailable, Problem::noPortal,
                 tr("This desktop offers no shortcuts for other windows (no session bus)."));
        return;
    }
    setState(State::binding);

    QDBusMessage create = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                         QStringLiteral("CreateSession"));
    const QString requestToken = token();
    create << QVariantMap{{QStringLiteral("handle_token"), requestToken},
                          {QStringLiteral("session_handle_token"), token()}};
    call(create, requestToken,
         [this](uint response, const QVariantMap& results) { sessionCreated(response, results); });
}

void GlobalShortcuts::call(QDBusMessage message, const QString& token, Answer answer) {
    m_request = Request{requestPath(m_bus, token), {}, {}, std::move(answer)};
    // Listening starts before the call goes out: the answer may come before the call's reply.
    listen(m_request->path, true);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &GlobalShortcuts::onReply);
}

// No service is named: QtDBus would look up its owner with a blocking call. The Response is
// checked against the unique name that replied instead.
void GlobalShortcuts::listen(const QString& path, bool on) {
    if (on)
        m_bus.connect(QString(), path, kRequest, QStringLiteral("Response"), this,
                      SLOT(onResponse(QDBusMessage)));
    else
        m_bus.disconnect(QString(), path, kRequest, QStringLiteral("Response"), this,
                         SLOT(onResponse(QDBusMessage)));
}

void GlobalShortcuts::onReply(QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (!m_request)
        return;
    if (reply.isError()) {
        listen(m_request->path, false);
        m_request.reset();
        fail(reply.error());
        return;
    }
    // Every portal with this interface (1.16 and later) puts the Request where the token says, so
    // the path the reply names is the one already listened on.
    m_request->portal = reply.reply().service();
    if (m_request->early && m_request->early->service() == m_request->portal) {
        const QDBusMessage early = *m_request->early; // deliver() ends the request
        deliver(early);
    }
}

void GlobalShortcuts::onResponse(const QDBusMessage& signal) {
    if (!m_request || signal.path() != m_request->path)
        return;
    if (m_request->portal.isEmpty())
        m_request->early = signal;
    else if (signal.service() == m_request->portal)
        deliver(signal);
}

void GlobalShortcuts::deliver(const QDBusMessage& response) {
    const QList<QVariant> arguments = response.arguments();
    const uint code = arguments.value(0, 2u).toUInt();
    const QVariantMap results = argumentMap(arguments.value(1));
    listen(m_request->path, false);
    const Answer answer = std::move(m_request->answer);
    m_portal = m_request->portal;
    m_request.reset();
    answer(code, results);
}

void GlobalShortcuts::sessionCreated(uint response, const QVariantMap& results) {
    if (response != 0) {
        refused(response);
        return;
    }
    m_session = objectPath(results.value(QStringLiteral("session_handle")));
    if (m_session.isEmpty()) {
        setState(State::unavailable, Problem::failed,
                 tr("The desktop opened no session for shortcuts that work from other windows."));
        return;
    }
    m_bus.connect(m_portal, kPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_bus.connect(m_portal, kPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));

    QList<PortalShortcut> shortcuts;
    for (const Shortcut& shortcut : std::as_const(m_shortcuts)) {
        QVariantMap properties{{QStringLiteral("description"), shortcut.description}};
        if (!shortcut.preferredTrigger.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), shortcut.preferredTrigger);
        shortcuts.append({shortcut.id, properties});
    }
    QDBusMessage bind = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("BindShortcuts"));
    const QString requestToken = token();
    bind << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariant::fromValue(shortcuts)
         << QString() << QVariantMap{{QStringLiteral("handle_token"), requestToken}};
    call(bind, requestToken,
         [this](uint response, const QVariantMap& results) { shortcutsBound(response, results); });
}

void GlobalShortcuts::shortcutsBound(uint response, const QVariantMap& results) {
    if (response != 0) {
        refused(response);
        return;
    }
    takeTriggers(results.value(QStringLiteral("shortcuts")));
    setState(State::bound);
}

// Only the shortcuts listed change: the portal lists the ones it bound, a subset of those asked.
void GlobalShortcuts::takeTriggers(const QVariant& shortcuts) {
    if (shortcuts.metaType() != QMetaType::fromType<QDBusArgument>())
        return;
    const auto listed = qdbus_cast<QList<PortalShortcut>>(shortcuts.value<QDBusArgument>());
    for (const PortalShortcut& shortcut : listed) {
        for (Binding& binding : m_bindings) {
            if (binding.id == shortcut.id)
                binding.trigger =
                    shortcut.properties.value(QStringLiteral("trigger_description")).toString();
        }
    }
}

void GlobalShortcuts::onActivated(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    if (m_session.isEmpty() || objectPath(arguments.value(0)) != m_session)
        return;
    emit activated(arguments.value(1).toString());
}

void GlobalShortcuts::onShortcutsChanged(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    if (m_state != State::bound || objectPath(arguments.value(0)) != m_session)
        return;
    const QList<Binding> before = m_bindings;
    takeTriggers(arguments.value(1));
    if (m_bindings != before)
        emit stateChanged();
}

void GlobalShortcuts::fail(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod: // GLib's long-standing answer for an interface not there
    case QDBusError::Disconnected:
        setState(State::unavailable, Problem::noPortal,
                 tr("This desktop offers no shortcuts for other windows (no GlobalShortcuts "
                    "portal)."));
        return;
    default:
        setState(State::unavailable, Problem::failed,
                 tr("The desktop could not set up shortcuts for other windows: %1")
                     .arg(error.message()));
    }
}

// 1: the user cancelled the desktop's dialog; 2: it ended some other way.
void GlobalShortcuts::refused(uint response) {
    if (response == 1)
        setState(State::unavailable, Problem::declined,
                 tr("The shortcuts for other windows were cancelled."));
    else
        setState(State::unavailable, Problem::failed,
                 tr("The desktop did not set up the shortcuts for other windows."));
}

void GlobalShortcuts::closeSession() {
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(m_portal, kPath, kInterface, QStringLiteral("Activated"), this,
                     SLOT(onActivated(QDBusMessage)));
    m_bus.disconnect(m_portal, kPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                     SLOT(onShortcutsChanged(QDBusMessage)));
    // Sent without waiting: nothing is done with the answer.
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session,
                                              QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")));
    m_session.clear();
}

void GlobalShortcuts::setState(State state, Problem problem, const QString& reason) {
    if (state == m_state && problem == m_problem && reason == m_reason)
        return;
    m_state = state;
    m_problem = problem;
    m_reason = reason;
    emit stateChanged();
}
