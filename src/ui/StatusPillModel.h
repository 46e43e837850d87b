#pragma once

#include "session/SessionController.h"

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

// The connection state as a word and a dot colour.
class StatusPillModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(QString label READ label NOTIFY statusChanged)
    Q_PROPERTY(QString dotColor READ dotColorName NOTIFY statusChanged)
    // Why it is in that state, when the connection says (a failure, a reconnect's reason).
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool hasMessage READ hasMessage NOTIFY messageChanged)

public:
    using Kind = SessionController::StatusKind;

    explicit StatusPillModel(QObject* parent = nullptr) : QObject(parent) {}

    static QString label(Kind kind);
    static QColor dotColor(Kind kind);

    int status() const { return int(m_kind); }
    void setStatus(int status);
    QString label() const { return label(m_kind); }
    QColor dotColor() const { return dotColor(m_kind); }
    QString dotColorName() const { return dotColor().name(); }
    QString message() const { return m_message; }
    void setMessage(const QString& message) {
        if (m_message == message)
            return;
        m_message = message;
        emit messageChanged();
    }
    bool hasMessage() const { return !m_message.isEmpty(); }

signals:
    void statusChanged();
    void messageChanged();

private:
    Kind m_kind = Kind::idle;
    QString m_message;
};
