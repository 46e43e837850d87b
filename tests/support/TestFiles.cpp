#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

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

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        << path.toStdString();
}

ScratchDisk::ScratchDisk(qint64 bytes, bool readOnly) {
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/corvinel-disk-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        m_whyNot = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_path = QString::fromLocal8Bit(folder);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    if (::mount("tmpfs", folder.constData(), "tmpfs", readOnly ? MS_RDONLY : 0,
                options.constData()) != 0) {
        m_whyNot = QStringLiteral("cannot mount a tmpfs here: ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_mounted = true;
}

ScratchDisk::~ScratchDisk() {
    if (m_mounted)
        ::umount2(m_path.toLocal8Bit().constData(), MNT_DETACH);
    if (!m_path.isEmpty())
        ::rmdir(m_path.toLocal8Bit().constData());
}
