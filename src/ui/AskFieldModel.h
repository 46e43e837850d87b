#pragma once

#include "session/SessionController.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The field under the cards where the user types a question or an instruction: usable during a
// session only, and saying so when it is not.
class AskFieldModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)
    Q_PROPERTY(QString placeholder READ placeholder NOTIFY enabledChanged)
    Q_PROPERTY(QString accessibleName READ accessibleName CONSTANT)
    Q_PROPERTY(QString shortcut READ shortcut CONSTANT)

public:
    explicit AskFieldModel(QObject* parent = nullptr) : QObject(parent) {}

    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    bool enabled() const { return m_enabled; }
    QString placeholder() const;
    static QString accessibleName();
    static QString shortcut() { return QStringLiteral("Ctrl+L"); }

    // Sends the text as a question; true when it went, so the view empties the field.
    Q_INVOKABLE bool submit(const QString& text);

signals:
    void sessionChanged();
    void enabledChanged();

private:
    void update();

    QPointer<SessionController> m_session;
    bool m_enabled = false;
};
