#include "ui/FollowBottom.h"

#include "base/Assign.h"
#include "ui/FeedFingerprint.h"

#include <QQuickItem>
#include <limits>

FollowBottom::FollowBottom(QObject* parent) : QObject(parent) {}

QString FollowBottom::pillText() const {
    return tr("New answers below");
}

void FollowBottom::setFingerprint(const QString& fingerprint) {
    if (m_fingerprint == fingerprint)
        return;
    const QString before = std::exchange(m_fingerprint, fingerprint);
    emit fingerprintChanged();
    // A following view keeps the end in view whatever changed there; a reader further up is
    // told only of something new.
    if (m_following)
        pin();
    else if (FeedFingerprint::grew(before, fingerprint))
        setShowsPill(true);
}

void FollowBottom::setUserInput(bool userInput) {
    if (!assignIfChanged(m_userInput, userInput))
        return;
    emit userInputChanged();
    // A wheel moves the view before the view reports that it is moving: the move just made
    // was the reader's.
    if (userInput && m_unclaimedUpwardMove)
        setFollowing(false);
    m_unclaimedUpwardMove = false;
}

void FollowBottom::moved(double offsetY, double distanceToEnd, bool byUser) {
    const bool atBottom = distanceToEnd <= bottomThreshold;
    const bool movedUp = offsetY < m_offsetY - upwardSlack;
    const bool scrolledUp = byUser && movedUp;
    m_offsetY = offsetY;
    const bool unclaimed = !byUser && movedUp && !atBottom;
    if (unclaimed && !m_unclaimedUpwardMove) {
        // Claimable only within this turn of the event loop; later input is a new move.
        QMetaObject::invokeMethod(
            this, [this] { m_unclaimedUpwardMove = false; }, Qt::QueuedConnection);
    }
    m_unclaimedUpwardMove = unclaimed;
    if (atBottom) {
        setFollowing(true);
        setShowsPill(false);
    } else if (scrolledUp) {
        setFollowing(false);
    }
}

void FollowBottom::grew() {
    if (m_following)
        pin();
    else
        setShowsPill(true);
}

void FollowBottom::viewMoved(double contentY, double viewHeight, double bottomMargin,
                             QQuickItem* lastCard) {
    moved(contentY, distanceToEnd(contentY, viewHeight, bottomMargin, lastCard), m_userInput);
}

void FollowBottom::relayout() {
    // Not under the reader's hand: the layout settles as a drag builds cards above.
    if (m_following && !m_userInput)
        emit pinRequested();
}

void FollowBottom::leftEnd() {
    setFollowing(false);
}

void FollowBottom::pillPressed() {
    setFollowing(true);
    setShowsPill(false);
    pin();
}

void FollowBottom::pin() {
    emit pinRequested();
    QMetaObject::invokeMethod(this, &FollowBottom::relayout, Qt::QueuedConnection);
}

double FollowBottom::distanceToEnd(double contentY, double viewHeight, double bottomMargin,
                                   const QQuickItem* lastCard) {
    if (!lastCard)
        return std::numeric_limits<double>::infinity();
    return lastCard->y() + lastCard->height() + bottomMargin - (contentY + viewHeight);
}

void FollowBottom::setFollowing(bool following) {
    if (!assignIfChanged(m_following, following))
        return;
    emit followingChanged();
}

void FollowBottom::setShowsPill(bool showsPill) {
    if (!assignIfChanged(m_showsPill, showsPill))
        return;
    emit showsPillChanged();
}
