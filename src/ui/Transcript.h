#pragma once

#include "session/PairListModel.h"
#include "settings/AppSettings.h"
#include "ui/CardFonts.h"
#include "ui/CardListModel.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// What the transcript view is made of: its cards over the session's pairs and their fonts over
// the settings. It lives as long as the view, so unfolded answers outlive sessions.
class Transcript : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PairListModel* pairs READ pairs WRITE setPairs NOTIFY pairsChanged)
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(CardListModel* cards READ cards CONSTANT)
    Q_PROPERTY(CardFonts* fonts READ fonts CONSTANT)

public:
    explicit Transcript(QObject* parent = nullptr);

    PairListModel* pairs() const { return m_cards.pairs(); }
    void setPairs(PairListModel* pairs);
    AppSettings* settings() const { return m_fonts.settings(); }
    void setSettings(AppSettings* settings);
    CardListModel* cards() { return &m_cards; }
    CardFonts* fonts() { return &m_fonts; }

signals:
    void pairsChanged();
    void settingsChanged();

private:
    CardFonts m_fonts;
    CardListModel m_cards;
};
