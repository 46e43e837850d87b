#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

class QDBusError;
class QDBusPendingCallWatcher;

// Shortcuts that work while another window has the focus, through the desktop portal's
// GlobalShortcuts interface. The desktop, not the app, decides the keys: a preferred trigger is
// only a suggestion, and the desktop may ask the user first. Where the portal is missing the
// state says why; the window's own shortcuts are separate and keep working either way.
class GlobalShortcuts : public QObject {
    Q_OBJECT
public:
    struct Shortcut {
        QString id;
        QString description;      // the desktop shows it in its dialog and its settings
        QString preferredTrigger; // in the portal's own notation: "CTRL+RETURN"
    };
    // As the desktop reports it ("Ctrl+Return"); the trigger is empty when no keys were given.
    struct Binding {
        QString id;
        QString trigger;
        friend bool operator==(const Binding&, const Binding&) = default;
    };
    enum class State { idle, binding, bound, unavailable };
    // Why the state is unavailable, so a view can offer "Try again" only where it can help.
    enum class Problem { none, noPortal, declined, failed };

    // `bus` is the session bus in the app.
    explicit GlobalShortcuts(QDBusConnection bus, QObject* parent = nullptr);
    // Closes the session, so the desktop stops listening for this object's shortcuts.
    ~GlobalShortcuts() override;

    // Opens a portal session and binds `shortcuts` to it; the answer comes in stateChanged().
    // Ignored while binding. Called again later, it starts over with a new session: the
    // portal binds a session's shortcuts only once.
    void bind(const QList<Shortcut>& shortcuts);

    State state() const { return m_state; }
    // One per shortcut given to bind(), in that order.
    QList<Binding> bindings() const { return m_bindings; }
    Problem problem() const { return m_problem; }
    // User-facing; empty unless unavailable.
    QString unavailableReason() const { return m_reason; }

signals:
    // A bound shortcut was pressed, whichever window has the focus.
    void activated(const QString& id);
    // The state, the bindings or the reason changed.
    void stateChanged();

private slots:
    void onResponse(const QDBusMessage& signal);
    void onActivated(const QDBusMessage& signal);
    void onShortcutsChanged(const QDBusMessage& signal);

private:
    using Answer = std::function<void(uint response, const QVariantMap& results)>;
    // One portal call, answered by a Response signal on its Request object.
    struct Request {
        QString path;   // where the Response is expected
        QString portal; // the unique name that replied to the call; empty until it did
        std::optional<QDBusMessage> early; // a Response that came before the call's reply
        Answer answer;
    };

    void call(QDBusMessage message, const QString& token, Answer answer);
    void onReply(QDBusPendingCallWatcher* watcher);
    void listen(const QString& path, bool on);
    void deliver(const QDBusMessage& response);
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void takeTriggers(const QVariant& shortcuts);
    void fail(const QDBusError& error);
    void refused(uint response);
    void closeSession();
    void setState(State state, Problem problem = Problem::none, const QString& reason = {});

    QDBusConnection m_bus;
    QList<Shortcut> m_shortcuts;
    QList<Binding> m_bindings;
    State m_state = State::idle;
    Problem m_problem = Problem::none;
    QString m_reason;
    std::optional<Request> m_request;
    QString m_session; // the session's object path, once the portal made it
    QString m_portal;  // the portal's unique name: Activated counts only from it
};
