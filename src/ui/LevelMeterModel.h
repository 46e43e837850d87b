#pragma once

#include "session/SessionController.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// One audio level as a bar. Levels arrive with every audio buffer; the bar takes a sample at
// most every 50 ms while they move, and nothing at all once they rest.
class LevelMeterModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    // The meeting level rather than the mic level.
    Q_PROPERTY(bool meeting READ meeting WRITE setMeeting NOTIFY channelChanged)
    Q_PROPERTY(double fill READ fill NOTIFY fillChanged)
    Q_PROPERTY(QString color READ colorName NOTIFY colorChanged)

public:
    // 20 a second: smooth to the eye, and half the frames of 30 while a meeting talks.
    static constexpr int kSampleIntervalMs = 50;
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
    // True while the sampler ticks (the levels moved since its last tick).
    bool isSampling() const { return m_sampler.isActive(); }
    QColor color() const { return m_color; }
    QString colorName() const { return m_color.name(); }

signals:
    void sessionChanged();
    void channelChanged();
    void fillChanged();
    void colorChanged();

private:
    double currentLevel() const;
    void sample();

    QPointer<SessionController> m_session;
    QMetaObject::Connection m_levelsConnection;
    bool m_meeting = false;
    QTimer m_sampler;
    double m_fill = 0;
    QColor m_color = colorFor(0);
};
