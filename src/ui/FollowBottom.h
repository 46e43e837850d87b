#pragma once

#include <QObject>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// Whether the card list follows its end, and whether to offer "New answers below".
//
// A list view estimates the height of cards it has not built, so its content height and offset
// jump without anyone scrolling. The rule therefore reads growth from the feed fingerprint,
// "at the bottom" from the last card's real position, and "scrolled up" only from moves the
// reader made (drag, flick, wheel, scroll bar, keys).
class FollowBottom : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool following READ following NOTIFY followingChanged)
    Q_PROPERTY(bool showsPill READ showsPill NOTIFY showsPillChanged)
    Q_PROPERTY(QString pillText READ pillText CONSTANT)
    Q_PROPERTY(QString fingerprint READ fingerprint WRITE setFingerprint NOTIFY fingerprintChanged)
    // True while the reader's own input moves the view; bound by the view.
    Q_PROPERTY(bool userInput READ userInput WRITE setUserInput NOTIFY userInputChanged)

public:
    // Within this many points of the end still counts as the end.
    static constexpr double bottomThreshold = 20;
    // An upward move this small is jitter, not the reader leaving the end.
    static constexpr double upwardSlack = 0.5;

    explicit FollowBottom(QObject* parent = nullptr);

    bool following() const { return m_following; }
    bool showsPill() const { return m_showsPill; }
    QString pillText() const;
    QString fingerprint() const { return m_fingerprint; }
    void setFingerprint(const QString& fingerprint);
    bool userInput() const { return m_userInput; }
    void setUserInput(bool userInput);

    // The view's offset is `offsetY` and its bottom edge is `distanceToEnd` points above the end
    // of the last card (infinite when that card is not built).
    void moved(double offsetY, double distanceToEnd, bool byUser);
    // The feed grew at its end: pin when following, offer the pill otherwise.
    void grew();

    // The view calls this on every change of its geometry. `lastCard` is the last card's
    // delegate, or null when the view has not built it.
    Q_INVOKABLE void viewMoved(double contentY, double viewHeight, double bottomMargin,
                               QQuickItem* lastCard);
    // The laid-out content changed size, or a pin's layout pass has run: a following view pins
    // again so the newest line shows.
    Q_INVOKABLE void relayout();
    // The reader jumped away from the end by hand (a key that positions the view); the move
    // that follows confirms it or, on a short list, finds the end again.
    Q_INVOKABLE void leftEnd();
    // The pill's press: follow again and go to the end.
    Q_INVOKABLE void pillPressed();

    static double distanceToEnd(double contentY, double viewHeight, double bottomMargin,
                                const QQuickItem* lastCard);

signals:
    void followingChanged();
    void showsPillChanged();
    void fingerprintChanged();
    void userInputChanged();
    // Go to the end of the list now.
    void pinRequested();

private:
    // Pins now and once more after the next layout pass, which lays out the newest line.
    void pin();
    void setFollowing(bool following);
    void setShowsPill(bool showsPill);

    bool m_following = true;
    bool m_showsPill = false;
    bool m_userInput = false;
    bool m_unclaimedUpwardMove = false;
    double m_offsetY = 0;
    QString m_fingerprint;
};
