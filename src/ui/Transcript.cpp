#include "ui/Transcript.h"

Transcript::Transcript(QObject* parent) : QObject(parent) {
    m_cards.setFonts(&m_fonts);
    connect(&m_cards, &CardListModel::pairsChanged, this, &Transcript::pairsChanged);
    connect(&m_fonts, &CardFonts::settingsChanged, this, &Transcript::settingsChanged);
}

void Transcript::setPairs(PairListModel* pairs) {
    m_cards.setPairs(pairs);
}

void Transcript::setSettings(AppSettings* settings) {
    m_fonts.setSettings(settings);
}
