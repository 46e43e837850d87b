#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// Puts text on the system clipboard; selection cannot span cards, so each answer copies itself.
class Clipboard : public QObject {
    Q_OBJECT
    QML_ELEMENT

public:
    explicit Clipboard(QObject* parent = nullptr);

    Q_INVOKABLE void copy(const QString& text) const;
};
