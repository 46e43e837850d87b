#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

// The answer timer: how long the user has been answering, coloured by how long is too long.
class SpeakingTimerModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double elapsed READ elapsed WRITE setElapsed NOTIFY elapsedChanged)
    Q_PROPERTY(bool live READ live WRITE setLive NOTIFY liveChanged)
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    Q_PROPERTY(QString color READ colorName NOTIFY colorChanged)
    Q_PROPERTY(QString fillColor READ fillColorName NOTIFY colorChanged)
    Q_PROPERTY(QString strokeColor READ strokeColorName NOTIFY colorChanged)
    Q_PROPERTY(double opacity READ opacity NOTIFY liveChanged)
    Q_PROPERTY(QString symbol READ symbol NOTIFY liveChanged)

public:
    // Green below 45 s, orange below 90 s, red from 90 s on.
    static QColor colorFor(double elapsed);

    explicit SpeakingTimerModel(QObject* parent = nullptr) : QObject(parent) {}

    double elapsed() const { return m_elapsed; }
    void setElapsed(double elapsed);
    bool live() const { return m_live; }
    void setLive(bool live);

    QString text() const { return m_text; }
    QColor color() const { return m_color; }
    QColor fillColor() const;
    QColor strokeColor() const;
    // The colours as QML reads them (#rrggbb, #aarrggbb).
    QString colorName() const { return m_color.name(); }
    QString fillColorName() const { return fillColor().name(QColor::HexArgb); }
    QString strokeColorName() const { return strokeColor().name(QColor::HexArgb); }
    double opacity() const { return m_live ? 1.0 : 0.65; }
    QString symbol() const;

signals:
    void elapsedChanged();
    void liveChanged();
    void textChanged();
    void colorChanged();

private:
    double m_elapsed = 0;
    bool m_live = false;
    QString m_text = QStringLiteral("0s");
    QColor m_color = colorFor(0);
};
