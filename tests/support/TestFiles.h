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
// Writes `bytes` to `path`, making its folder first; the test fails where that cannot be done.
void writeBytes(const QString& path, const QByteArray& bytes);

// A tmpfs of `bytes` (read-only when asked) mounted on a fresh folder, for tests of a full or
// read-only disk; unmounted when destroyed. Mounting needs the right to (root, as in CI): where
// it is missing, isMounted() is false and whyNot() says why, for the test to skip with.
class ScratchDisk {
public:
    explicit ScratchDisk(qint64 bytes, bool readOnly = false);
    ~ScratchDisk();
    ScratchDisk(const ScratchDisk&) = delete;
    ScratchDisk& operator=(const ScratchDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString whyNot() const { return m_whyNot; }
    QString path() const { return m_path; }

private:
    QString m_path;
    QString m_whyNot;
    bool m_mounted = false;
};
