#pragma once

#include "session/PairListModel.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// A short text that changes when the feed grows at its end: the number of cards and, of the
// last card, the length of its question and answer and whether it is complete. Edits of earlier
// cards and of anyone's own answer leave it alone, so they never move the view.
class FeedFingerprint : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PairListModel* pairs READ pairs WRITE setPairs NOTIFY pairsChanged)
    Q_PROPERTY(QString value READ value NOTIFY valueChanged)

public:
    explicit FeedFingerprint(QObject* parent = nullptr);

    // "0" for no cards, else "count-questionLength-answerLength-isComplete" (lengths in
    // user-perceived characters).
    static QString of(const QList<QAPair>& pairs);
    // Whether the feed got longer at its end between two fingerprints: more cards, or the last
    // card's question or answer grew. A dropped empty card or an answer cleared for a rewrite
    // changes the fingerprint but brings nothing new to read.
    static bool grew(const QString& before, const QString& after);

    PairListModel* pairs() const { return m_pairs; }
    void setPairs(PairListModel* pairs);
    QString value() const { return m_value; }

signals:
    void pairsChanged();
    void valueChanged();

private:
    void refresh();

    QPointer<PairListModel> m_pairs;
    QString m_value = QStringLiteral("0");
};
