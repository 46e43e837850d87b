#include "ui/AskFieldModel.h"

#include "session/SessionController.h"

void AskFieldModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    if (m_session)
        m_session->disconnect(this);
    m_session = session;
    if (session)
        connect(session, &SessionController::isSessionActiveChanged, this, &AskFieldModel::update);
    update();
    emit sessionChanged();
}

void AskFieldModel::update() {
    const bool enabled = m_session && m_session->isSessionActive();
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged();
}

QString AskFieldModel::placeholder() const {
    return m_enabled ? tr("Ask or instruct…") : tr("Start a session to ask a question");
}

QString AskFieldModel::accessibleName() {
    return tr("Ask or instruct");
}

bool AskFieldModel::submit(const QString& text) {
    if (!m_enabled || text.trimmed().isEmpty())
        return false;
    m_session->ask(text);
    return true;
}
