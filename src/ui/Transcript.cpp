#include "ui/Transcript.h"

Transcript::Transcript(QObject* parent) : QObject(parent) {
    m_cards.setFonts(&m_fonts);
    connect(&m_cards, &CardListModel::pairsChanged, this, &Transcript::pairsChanged);
    connect(&m_fonts, &CardFonts::settingsChanged, this, &Transcript::settingsChanged);
    connect(&m_cards, &CardListModel::rewriteRequested, this,
            [this](const QString& pairId, const QString& style) {
                if (m_session)
                    m_session->rewriteAnswer(pairId, style);
            });
    connect(&m_cards, &CardListModel::versionRequested, this,
            [this](const QString& pairId, int index) {
                if (m_session)
                    m_session->showAnswerVersion(pairId, index);
            });
}

void Transcript::setSession(SessionController* session) {
    if (m_session == session)
        return;
    if (m_session)
        m_session->disconnect(this);
    m_session = session;
    const auto follow = [this] {
        m_cards.setSessionActive(m_session && m_session->isSessionActive());
    };
    if (session)
        connect(session, &SessionController::isSessionActiveChanged, this, follow);
    follow();
    emit sessionChanged();
}

void Transcript::setPairs(PairListModel* pairs) {
    m_cards.setPairs(pairs);
}

void Transcript::setSettings(AppSettings* settings) {
    m_fonts.setSettings(settings);
}
