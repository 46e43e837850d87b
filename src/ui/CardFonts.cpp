#include "ui/CardFonts.h"

#include <QFontDatabase>
#include <algorithm>

CardFonts::CardFonts(QObject* parent) : QObject(parent) {}

double CardFonts::metaSize(double size) {
    return std::max(size - 4, smallestMetaSize);
}

void CardFonts::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    if (m_settings)
        m_settings->disconnect(this);
    m_settings = settings;
    if (settings) {
        connect(settings, &AppSettings::fontSizeChanged, this, &CardFonts::rebuild);
        connect(settings, &AppSettings::fontFamilyChanged, this, &CardFonts::rebuild);
    }
    emit settingsChanged();
    rebuild();
}

void CardFonts::rebuild() {
    if (!m_settings)
        return;
    const double size = m_settings->fontSize();
    const double meta = metaSize(size);
    const QFont question = m_settings->font(size + 1, QFont::DemiBold);
    const QFont answer = m_settings->font(size, QFont::Normal);
    const QFont answerMedium = m_settings->font(size, QFont::Medium);
    const QFont metaFont = m_settings->font(meta, QFont::Normal);
    const QFont metaSemibold = m_settings->font(meta, QFont::DemiBold);
    // Timestamps line up in the fixed-pitch face whatever family the cards use.
    QFont metaMono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    metaMono.setPointSizeF(meta);
    if (question == m_question && answer == m_answer && answerMedium == m_answerMedium &&
        metaFont == m_meta && metaSemibold == m_metaSemibold && metaMono == m_metaMono)
        return;
    m_question = question;
    m_answer = answer;
    m_answerMedium = answerMedium;
    m_meta = metaFont;
    m_metaSemibold = metaSemibold;
    m_metaMono = metaMono;
    emit fontsChanged();
}

namespace {
QFont desktopFont(double sizeOffset, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const double base = font.pointSizeF() > 0 ? font.pointSizeF() : 10;
    font.setPointSizeF(std::max(base + sizeOffset, CardFonts::smallestMetaSize));
    font.setWeight(weight);
    return font;
}
} // namespace

QFont CardFonts::headlineFont() const {
    return desktopFont(0, QFont::DemiBold);
}

QFont CardFonts::calloutFont() const {
    return desktopFont(-1, QFont::Normal);
}

QFont CardFonts::captionSemiboldFont() const {
    return desktopFont(-3, QFont::DemiBold);
}
