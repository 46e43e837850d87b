#pragma once

#include "settings/AppSettings.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The cards' fonts, built from the text size and family settings: the question one point larger
// and semibold, the answer at the set size, and the small print four points smaller, never
// below 9 points.
class CardFonts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(QFont questionFont READ questionFont NOTIFY fontsChanged)
    Q_PROPERTY(QFont answerFont READ answerFont NOTIFY fontsChanged)
    Q_PROPERTY(QFont answerMediumFont READ answerMediumFont NOTIFY fontsChanged)
    Q_PROPERTY(QFont metaFont READ metaFont NOTIFY fontsChanged)
    Q_PROPERTY(QFont metaSemiboldFont READ metaSemiboldFont NOTIFY fontsChanged)
    Q_PROPERTY(QFont metaMonoFont READ metaMonoFont NOTIFY fontsChanged)
    // The empty state's and the pill's type follow the desktop, not the cards' text size.
    Q_PROPERTY(QFont headlineFont READ headlineFont CONSTANT)
    Q_PROPERTY(QFont calloutFont READ calloutFont CONSTANT)
    Q_PROPERTY(QFont captionSemiboldFont READ captionSemiboldFont CONSTANT)

public:
    static constexpr double smallestMetaSize = 9;

    explicit CardFonts(QObject* parent = nullptr);

    static double metaSize(double size);

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);

    QFont questionFont() const { return m_question; }
    QFont answerFont() const { return m_answer; }
    QFont answerMediumFont() const { return m_answerMedium; }
    QFont metaFont() const { return m_meta; }
    QFont metaSemiboldFont() const { return m_metaSemibold; }
    QFont metaMonoFont() const { return m_metaMono; }
    QFont headlineFont() const;
    QFont calloutFont() const;
    QFont captionSemiboldFont() const;

signals:
    void settingsChanged();
    void fontsChanged();

private:
    void rebuild();

    QPointer<AppSettings> m_settings;
    QFont m_question;
    QFont m_answer;
    QFont m_answerMedium;
    QFont m_meta;
    QFont m_metaSemibold;
    QFont m_metaMono;
};
