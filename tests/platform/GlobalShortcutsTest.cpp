#include "platform/GlobalShortcuts.h"
#include "support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using State = GlobalShortcuts::State;
using Problem = GlobalShortcuts::Problem;
using Binding = GlobalShortcuts::Binding;

namespace {

// The portal's a(sa{sv}) lists, marshalled here apart from the client's own code.
struct FakeShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& out, const FakeShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, FakeShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kStartStop = QStringLiteral("start-stop");
const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

QVariantMap options(const QVariant& argument) {
    return qdbus_cast<QVariantMap>(argument.value<QDBusArgument>());
}

// xdg-desktop-portal as documented: Requests at request/SENDER/TOKEN and sessions at
// session/SENDER/TOKEN; each answer a Response signal, sent here before the call's reply (a
// client that listens before it calls survives that); one BindShortcuts per session; results
// listing the bound subset. Without the interface it answers as GLib does for a missing one.
class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    QString missingInterface; // the error a portal without GlobalShortcuts answers with
    uint createResponse = 0;
    uint bindResponse = 0;
    QStringList sessions, bound, closed;
    QStringList asked; // "id|description|preferred trigger|parent window"

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
        const QList<QVariant> in = call.arguments();
        if (call.member() == u"Close" && sessions.contains(call.path())) {
            closed << call.path();
            m_bus.send(call.createReply());
        } else if (!missingInterface.isEmpty() || call.interface() != kShortcuts) {
            m_bus.send(call.createErrorReply(
                missingInterface.isEmpty() ? kUnknownMethod : missingInterface,
                QStringLiteral("No such interface “%1” on object at path %2")
                    .arg(call.interface(), call.path())));
        } else if (call.member() == u"CreateSession") {
            const QString session = path(
                call, u"session", options(in.value(0)).value("session_handle_token").toString());
            if (createResponse == 0)
                sessions << session;
            answer(call, options(in.value(0)), createResponse,
                   {{QStringLiteral("session_handle"), session}});
        } else if (const QString session = in.value(0).value<QDBusObjectPath>().path();
                   !sessions.contains(session) || bound.contains(session) ||
                   closed.contains(session)) {
            m_bus.send(call.createErrorReply(QDBusError::AccessDenied, "Invalid session"));
        } else {
            bound << session;
            for (const FakeShortcut& shortcut :
                 qdbus_cast<QList<FakeShortcut>>(in.value(1).value<QDBusArgument>()))
                asked << QStringList{shortcut.id,
                                     shortcut.properties.value("description").toString(),
                                     shortcut.properties.value("preferred_trigger").toString(),
                                     in.value(2).toString()}
                             .join(u'|');
            // The desktop gives start-stop its keys and the other shortcut none.
            const QList<FakeShortcut> given{
                {kStartStop, {{QStringLiteral("trigger_description"), "Ctrl+Return"}}}};
            answer(call, options(in.value(3)), bindResponse,
                   {{QStringLiteral("shortcuts"), QVariant::fromValue(given)}});
        }
        return true;
    }
    void emitSignal(const QString& member, const QList<QVariant>& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, kShortcuts, member);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

private:
    static QString path(const QDBusMessage& call, QStringView kind, const QString& token) {
        return QStringLiteral("%1/%2/%3/%4")
            .arg(kPortalPath, kind, call.service().mid(1).replace(u'.', u'_'), token);
    }
    void answer(const QDBusMessage& call, const QVariantMap& options, uint response,
                const QVariantMap& results) {
        const QString request = path(call, u"request", options.value("handle_token").toString());
        QDBusMessage signal = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        m_bus.send(signal << response << (response == 0 ? results : QVariantMap{}));
        m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    }
    QDBusConnection m_bus;
};

struct ClosedAtEnd {
    QString name;
    ~ClosedAtEnd() { QDBusConnection::disconnectFromBus(name); }
};

// The portal's connection and the app's. Closed only once every copy of them is gone: libdbus
// aborts when a private connection loses its last reference while open.
struct TestBuses {
    PrivateBus bus;
    const ClosedAtEnd closePortal{QStringLiteral("portal")};
    const ClosedAtEnd closeClient{QStringLiteral("corvinel")};
    QDBusConnection portalBus = QDBusConnection::connectToBus(bus.address(), "portal");
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "corvinel");
    FakePortal portal{portalBus};

    bool serve() {
        qDBusRegisterMetaType<FakeShortcut>();
        qDBusRegisterMetaType<QList<FakeShortcut>>();
        return portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
               portalBus.registerVirtualObject(kPortalPath, &portal, QDBusConnection::SubPath);
    }
};

const QList<GlobalShortcuts::Shortcut> kAsked{
    {kStartStop, QStringLiteral("Start or stop the session"), QStringLiteral("CTRL+RETURN")},
    {QStringLiteral("always-on-top"), QStringLiteral("Keep the window above others"),
     QStringLiteral("SHIFT+CTRL+T")}};
const QList<Binding> kBound{{kStartStop, QStringLiteral("Ctrl+Return")}, {kAsked[1].id, {}}};
const QList<Binding> kUnbound{{kStartStop, {}}, {kAsked[1].id, {}}};
const QString kOurs = QStringLiteral("ours");
const QString kOthers = QStringLiteral("/org/freedesktop/portal/desktop/session/1_99/other");

struct Outcome {
    const char* name;
    bool served;
    QString missingInterface;
    uint createResponse;
    uint bindResponse;
    State state;
    Problem problem;
    QString words; // in the reason
    QList<Binding> bindings = kUnbound;
    QStringList pressedIn{}; // then start-stop pressed in ours, the other one elsewhere
    bool rebound = false;    // then the desktop's settings give always-on-top Alt+T
    QStringList activated{};
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << outcome.name;
}

class GlobalShortcutsOutcomes : public testing::TestWithParam<Outcome> {};

} // namespace

TEST_P(GlobalShortcutsOutcomes, EndAsThePortalSaid) {
    const Outcome& row = GetParam();
    TestBuses buses;
    ASSERT_TRUE(buses.client.isConnected()) << "dbus-daemon did not start";
    FakePortal& portal = buses.portal;
    portal.missingInterface = row.missingInterface;
    portal.createResponse = row.createResponse;
    portal.bindResponse = row.bindResponse;
    if (row.served) {
        ASSERT_TRUE(buses.serve());
    }
    {
        GlobalShortcuts shortcuts(buses.client);
        QSignalSpy changes(&shortcuts, &GlobalShortcuts::stateChanged);
        QSignalSpy activated(&shortcuts, &GlobalShortcuts::activated);
        shortcuts.bind(kAsked);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts.state() != State::binding; }, 10000));
        EXPECT_EQ(changes.size(), 2);
        for (const QString& session : row.pressedIn)
            portal.emitSignal(
                QStringLiteral("Activated"),
                {QVariant::fromValue(
                     QDBusObjectPath(session == kOurs ? portal.sessions.value(0) : session)),
                 session == kOurs ? kStartStop : kAsked[1].id, qulonglong(1234), QVariantMap{}});
        if (row.rebound) {
            const QList<FakeShortcut> changed{
                {kAsked[1].id, {{QStringLiteral("trigger_description"), "Alt+T"}}}};
            portal.emitSignal(QStringLiteral("ShortcutsChanged"),
                              {QVariant::fromValue(QDBusObjectPath(portal.sessions.value(0))),
                               QVariant::fromValue(changed)});
            ASSERT_TRUE(changes.wait(5000));
        }
        // Ours comes last: the first one seen must be it.
        if (row.pressedIn.contains(kOurs)) {
            ASSERT_TRUE(activated.wait(5000));
        }
        QStringList ids;
        for (const QList<QVariant>& signal : std::as_const(activated))
            ids << signal.value(0).toString();
        EXPECT_EQ(ids, row.activated);
        EXPECT_EQ(shortcuts.state(), row.state);
        EXPECT_EQ(shortcuts.problem(), row.problem);
        EXPECT_EQ(shortcuts.unavailableReason().isEmpty(), row.words.isEmpty());
        EXPECT_TRUE(shortcuts.unavailableReason().contains(row.words))
            << shortcuts.unavailableReason().toStdString();
        EXPECT_EQ(shortcuts.bindings(), row.bindings);
    }
    if (portal.sessions.isEmpty())
        return;
    EXPECT_EQ(portal.asked,
              (QStringList{"start-stop|Start or stop the session|CTRL+RETURN|",
                           "always-on-top|Keep the window above others|SHIFT+CTRL+T|"}));
    // Gone, the client ends its session: the desktop stops listening for its keys.
    EXPECT_TRUE(QTest::qWaitFor([&] { return portal.closed == portal.sessions; }, 5000));
}

namespace {
Outcome bound(const char* name, QStringList pressedIn = {}, QStringList activated = {},
              bool rebound = false, const QList<Binding>& bindings = kBound) {
    Outcome row{name, true, QString(), 0, 0, State::bound, Problem::none, QString(), bindings};
    row.pressedIn = std::move(pressedIn);
    row.activated = std::move(activated);
    row.rebound = rebound;
    return row;
}
Outcome unavailable(const char* name, uint createResponse, uint bindResponse, Problem problem,
                    const QString& words, bool served = true,
                    const QString& missingInterface = {}) {
    return {name,    served, missingInterface, createResponse, bindResponse, State::unavailable,
            problem, words};
}
const QString kNoPortal = QStringLiteral("no GlobalShortcuts portal");
} // namespace

INSTANTIATE_TEST_SUITE_P(
    Portal, GlobalShortcutsOutcomes,
    testing::Values(
        bound("bound"), bound("pressedInOurSession", {kOurs}, {kStartStop}),
        bound("pressedInAnotherAppsSessionIsNotOurs", {kOthers, kOurs}, {kStartStop}),
        bound("reboundInTheDesktopsSettings", {}, {}, true,
              {{kStartStop, QStringLiteral("Ctrl+Return")}, {kAsked[1].id, "Alt+T"}}),
        unavailable("bindingCancelled", 0, 1, Problem::declined, QStringLiteral("cancelled")),
        unavailable("bindingEndedOtherwise", 0, 2, Problem::failed,
                    QStringLiteral("did not set up")),
        unavailable("sessionRefused", 2, 0, Problem::failed, QStringLiteral("did not set up")),
        unavailable("noPortal", 0, 0, Problem::noPortal, kNoPortal, false),
        unavailable("olderGnome", 0, 0, Problem::noPortal, kNoPortal, true, kUnknownMethod),
        unavailable("olderGnomeNewerGlib", 0, 0, Problem::noPortal, kNoPortal, true,
                    QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"))),
    [](const testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

// "Try again" after a cancelled dialog needs a new session: the portal binds a session once.
TEST(GlobalShortcuts, BindingAgainAfterACancelUsesANewSession) {
    TestBuses buses;
    ASSERT_TRUE(buses.client.isConnected()) << "dbus-daemon did not start";
    ASSERT_TRUE(buses.serve());
    buses.portal.bindResponse = 1;
    GlobalShortcuts shortcuts(buses.client);
    shortcuts.bind(kAsked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts.state() == State::unavailable; }, 10000));
    buses.portal.bindResponse = 0;
    shortcuts.bind(kAsked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts.state() == State::bound; }, 10000));
    EXPECT_EQ(shortcuts.bindings(), kBound);
    ASSERT_EQ(buses.portal.sessions.size(), 2);
    EXPECT_EQ(buses.portal.closed, QStringList{buses.portal.sessions[0]});
}
