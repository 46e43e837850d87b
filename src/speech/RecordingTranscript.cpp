#include "speech/RecordingTranscript.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace RecordingTranscript {

namespace {
const QString kTitle = QStringLiteral("# Meeting transcript");

QString basePath(const QString& recordingPath) {
    const QFileInfo info(recordingPath);
    const QString suffix = info.suffix();
    if (suffix.isEmpty())
        return recordingPath;
    return recordingPath.left(recordingPath.size() - suffix.size() - 1);
}

bool isRecordingTranscript(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray first = file.readLine(4096);
    if (first.endsWith('\n'))
        first.chop(1);
    return QString::fromUtf8(first) == kTitle;
}
} // namespace

QString durationLine(double seconds) {
    const long long whole = seconds > 0 ? static_cast<long long>(std::floor(seconds)) : 0;
    return QString::asprintf("Duration: %lld min %02lld s", whole / 60, whole % 60);
}

QString chunkStamp(int chunkIndex, double chunkSeconds) {
    const long long whole = static_cast<long long>(std::floor(chunkIndex * chunkSeconds));
    return QString::asprintf("%02lld:%02lld", whole / 60, whole % 60);
}

QStringList headerLines(const QString& recordingFileName, double durationSeconds) {
    return {
        kTitle,
        QString(),
        QStringLiteral("Source: `") + recordingFileName + QStringLiteral("`"),
        durationLine(durationSeconds),
        QStringLiteral("Transcribed on-device. Left channel = you, right channel = the meeting."),
        QString()};
}

QString speakerLine(int channel, const QString& text) {
    const QString label = channel == 0 ? QStringLiteral("You") : QStringLiteral("Interviewer");
    return QStringLiteral("**") + label + QStringLiteral(":** ") + text;
}

QString targetPath(const QString& recordingPath) {
    const QString base = basePath(recordingPath);
    const QString usual = base + QStringLiteral(".transcript.md");
    if (!QFileInfo::exists(usual) || isRecordingTranscript(usual))
        return usual;
    return base + QStringLiteral(".recording.transcript.md");
}

QString progressText(const QString& recordingFileName, double doneSeconds, double totalSeconds) {
    const auto percent = static_cast<long long>(doneSeconds / std::max(totalSeconds, 1.0) * 100.0);
    // One pass over all four: a "%1" in the file name stays text.
    return QStringLiteral("Transcribing %1 — %2% (%3s of %4s)")
        .arg(recordingFileName, QString::number(percent),
             QString::number(static_cast<long long>(doneSeconds)),
             QString::number(static_cast<long long>(totalSeconds)));
}

} // namespace RecordingTranscript
