#pragma once

#include "session/SessionController.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// One audio level as a bar. Levels arrive with every audio buffer or, from the capture engine,
// every 50 to 90 ms. The bar moves with a level as it arrives, but at most once in each slot of
// kSlotMs on a clock all bars share: a level that comes later in the slot waits for the next
// one, or for a timer when no other comes. So while levels flow the bar wakes the program for
// nothing of its own, two bars that move together cost one frame, and resting bars cost none.
class LevelMeterModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    // The meeting level rather than the mic level.
    Q_PROPERTY(bool meeting READ meeting WRITE setMeeting NOTIFY channelChanged)
    Q_PROPERTY(double fill READ fill NOTIFY fillChanged)
    Q_PROPERTY(QString color READ colorName NOTIFY colorChanged)

public:
    // Five moves a second: the bar still reads as live, and each move costs the window a frame,
    // about 0.3 ms of the GUI thread whatever the rest of the window holds.
    static constexpr int kSlotMs = 200;
    // A level that came too soon is shown this long after its slot ends unless a later one
    // comes first: longer than the capture engine's gap between posts, so while levels flow
    // the next post shows it and the timer never fires.
    static constexpr int kRestMs = kSlotMs / 2;
    // The bar is 34 points wide: a change of less than one point is not worth a frame.
    static constexpr double kFillStep = 1.0 / 34.0;

    // Whether the bar should move from `shown` to `fill`: by a point or more, or to rest at
    // either end.
    static bool worthRepainting(double shown, double fill);

    // The share of the bar the level fills: the level clamped to 0…1.
    static double fillFraction(double level);
    // Red above 0.9, green otherwise.
    static QColor colorFor(double level);

    explicit LevelMeterModel(QObject* parent = nullptr);

    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    bool meeting() const { return m_meeting; }
    void setMeeting(bool meeting);
    double fill() const { return m_fill; }
    // True while a level that came too soon waits to be shown.
    bool isSampling() const { return m_waiting.isActive(); }
    QColor color() const { return m_color; }
    QString colorName() const { return m_color.name(); }

signals:
    void sessionChanged();
    void channelChanged();
    void fillChanged();
    void colorChanged();

private:
    double currentLevel() const;
    // Whether a sample now would change the bar.
    bool wouldMove() const;
    void levelsArrived();
    void sample();

    QPointer<SessionController> m_session;
    QMetaObject::Connection m_levelsConnection;
    bool m_meeting = false;
    qint64 m_movedInSlot = -1;
    QTimer m_waiting;
    double m_fill = 0;
    QColor m_color = colorFor(0);
};
