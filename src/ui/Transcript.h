#pragma once

#include "session/PairListModel.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/CardFonts.h"
#include "ui/CardListModel.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// What the transcript view is made of: its cards over the session's pairs and their fonts over
// the settings. It lives as long as the view, so unfolded answers outlive sessions.
class Transcript : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PairListModel* pairs READ pairs WRITE setPairs NOTIFY pairsChanged)
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    // Where the cards' rewrites go, and whether they can be asked for now.
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(CardListModel* cards READ cards CONSTANT)
    Q_PROPERTY(CardFonts* fonts READ fonts CONSTANT)

public:
    explicit Transcript(QObject* parent = nullptr);

    PairListModel* pairs() const { return m_cards.pairs(); }
    void setPairs(PairListModel* pairs);
    AppSettings* settings() const { return m_fonts.settings(); }
    void setSettings(AppSettings* settings);
    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    CardListModel* cards() { return &m_cards; }
    CardFonts* fonts() { return &m_fonts; }

signals:
    void pairsChanged();
    void settingsChanged();
    void sessionChanged();

private:
    CardFonts m_fonts;
    CardListModel m_cards;
    QPointer<SessionController> m_session;
};
