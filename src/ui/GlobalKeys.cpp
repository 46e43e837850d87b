#include "ui/GlobalKeys.h"

#include "platform/GlobalShortcuts.h"

#include <QQmlEngine>

namespace {
struct Command {
    const char* id;
    const char* label;
    const char* preferred;
};
// The commands worth having from another window: the call has the focus, not Corvinel.
constexpr Command kCommands[] = {
    {"start-stop", "Start / Stop", "CTRL+RETURN"},
    {"ask-screen", "Ask About the Screen", "SHIFT+CTRL+S"},
    {"ask-field", "Ask or instruct", "CTRL+L"},
};
} // namespace

GlobalKeys& GlobalKeys::instance() {
    static GlobalKeys* keys = new GlobalKeys; // lives as long as the process and its views
    return *keys;
}

GlobalKeys* GlobalKeys::create(QQmlEngine*, QJSEngine*) {
    GlobalKeys* keys = &instance();
    QJSEngine::setObjectOwnership(keys, QJSEngine::CppOwnership);
    return keys;
}

void GlobalKeys::use(GlobalShortcuts* client) {
    if (m_client)
        m_client->disconnect(this);
    m_client = client;
    if (!client) {
        update();
        return;
    }
    connect(client, &GlobalShortcuts::activated, this, &GlobalKeys::press);
    connect(client, &GlobalShortcuts::stateChanged, this, &GlobalKeys::update);
    QList<GlobalShortcuts::Shortcut> shortcuts;
    for (const Command& command : kCommands)
        shortcuts.append({QLatin1String(command.id), QLatin1String(command.label),
                          QLatin1String(command.preferred)});
    client->bind(shortcuts);
    update();
}

void GlobalKeys::press(const QString& id) {
    if (id == QLatin1String("start-stop"))
        emit startStopPressed();
    else if (id == QLatin1String("ask-screen"))
        emit askAboutScreenPressed();
    else if (id == QLatin1String("ask-field"))
        emit askFieldPressed();
}

QString GlobalKeys::describe(const GlobalShortcuts& client) {
    switch (client.state()) {
    case GlobalShortcuts::State::idle:
        return {};
    case GlobalShortcuts::State::binding:
        return tr("Asking the desktop for shortcuts that work from any window…");
    case GlobalShortcuts::State::unavailable:
        return client.unavailableReason() + u' ' + tr("The window's own shortcuts still work.");
    case GlobalShortcuts::State::bound:
        break;
    }
    QStringList parts;
    for (const GlobalShortcuts::Binding& binding : client.bindings()) {
        QString label = binding.id;
        for (const Command& command : kCommands)
            if (binding.id == QLatin1String(command.id))
                label = tr(command.label);
        parts << label + QStringLiteral(": ") +
                     (binding.trigger.isEmpty() ? tr("no keys yet (set them in the desktop's "
                                                     "settings)")
                                                : binding.trigger);
    }
    return tr("From any window: ") + parts.join(QStringLiteral(" · "));
}

void GlobalKeys::update() {
    const QString summary = m_client ? describe(*m_client) : QString();
    if (summary == m_summary)
        return;
    m_summary = summary;
    emit summaryChanged();
}
