#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// A file's whole contents; empty when it cannot be read.
QByteArray readBytes(const QString& path);
QString readText(const QString& path);
// Each line of a JSON-lines file that is a JSON object, in order.
QList<QJsonObject> readJsonLines(const QString& path);
