#include "support/TestFiles.h"

#include <QFile>
#include <QJsonDocument>

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString readText(const QString& path) {
    return QString::fromUtf8(readBytes(path));
}

QList<QJsonObject> readJsonLines(const QString& path) {
    QList<QJsonObject> records;
    for (const QByteArray& line : readBytes(path).split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            records.append(document.object());
    }
    return records;
}
