#include "ui/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

Clipboard::Clipboard(QObject* parent) : QObject(parent) {}

void Clipboard::copy(const QString& text) const {
    QGuiApplication::clipboard()->setText(text);
}
