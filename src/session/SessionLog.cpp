#include "session/SessionLog.h"

#include "audio/WholeFile.h"
#include "base/Clock.h"
#include "base/Folders.h"
#include "base/SystemReason.h"
#include "session/QAFlow.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QStringList>

#include <unistd.h>

QString sessionDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/Corvinel");
}

SessionLog::SessionLog(const QString& directory, const QString& stamp, const Clock& clock)
    : m_clock(clock), m_directory(directory), m_stamp(stamp),
      m_jsonPath(directory + QStringLiteral("/meeting_") + stamp + QStringLiteral(".events.jsonl")),
      m_started(clock.now()), m_file(m_jsonPath) {}

SessionLog::Reserved SessionLog::reserve(const QString& directory, const QString& stamp,
                                         const Clock& clock) {
    if (const QString error = makeFolder(directory); !error.isEmpty())
        return error;
    const QDir folder(directory);
    for (int n = 1; n <= 999; ++n) {
        const QString candidate = n == 1 ? stamp : stamp + u'-' + QString::number(n);
        if (!folder
                 .entryList({QStringLiteral("meeting_") + candidate + QStringLiteral(".*")},
                            QDir::Files)
                 .isEmpty())
            continue;
        std::unique_ptr<SessionLog> log(new SessionLog(directory, candidate, clock));
        // Records go straight to the descriptor: nothing waits in a buffer for a later flush.
        if (log->m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return log;
        if (!QFileInfo::exists(log->m_jsonPath))
            return log->m_file.errorString();
    }
    return QStringLiteral("every name for this second is taken");
}

SessionLog::~SessionLog() {
    close();
}

QByteArray SessionLog::encode(const QJsonObject& record) {
    // QJsonObject keeps its keys sorted, and the compact form has no extra white space.
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

void SessionLog::begin() {
    if (m_begun)
        return;
    m_begun = true;
    m_started = m_clock.now();
    append(QStringLiteral("session_started"));
}

void SessionLog::append(const QString& event, const QJsonObject& fields) {
    if (!m_begun || !m_file.isOpen() || m_failure)
        return;
    QJsonObject record = fields;
    record.insert(QStringLiteral("t"), roundTo(m_clock.now() - m_started, 3));
    record.insert(QStringLiteral("event"), event);
    // Straight to the file: a crash loses nothing written.
    const QByteArray line = encode(record) + '\n';
    int error = 0;
    const auto written = static_cast<qint64>(WholeFile::writeAll(
        m_file.handle(), line.constData(), static_cast<size_t>(line.size()), error));
    if (written == line.size()) {
        m_written += written;
        return;
    }
    m_failure = systemReason(error);
    // Should cutting the partial line off fail too, the log ends in one broken line that
    // readers of JSON lines skip; nothing is written after it.
    [[maybe_unused]] const int cut = ::ftruncate(m_file.handle(), m_written);
}

void SessionLog::close() {
    if (!m_file.isOpen())
        return;
    append(QStringLiteral("session_ended"));
    m_file.close();
}

void SessionLog::discard() {
    m_file.close();
    QFile::remove(m_jsonPath);
}

SavedFile SessionLog::writeMarkdown(const QList<QAPair>& pairs) const {
    const QString path =
        m_directory + QStringLiteral("/meeting_") + m_stamp + QStringLiteral(".transcript.md");
    const QString text = meetingTranscript(pairs, m_stamp, m_clock.now() - m_started,
                                           QFileInfo(m_jsonPath).fileName());
    return {path, WholeFile::write(path, text.toUtf8())};
}

QString meetingTranscript(const QList<QAPair>& pairs, const QString& stamp, double lengthSeconds,
                          const QString& eventFileName) {
    const auto length = static_cast<long long>(lengthSeconds);
    QStringList lines{QStringLiteral("# Meeting transcript — ") + stamp, QString(),
                      QString::asprintf("Length: %lld min %02lld s", length / 60, length % 60),
                      QStringLiteral("Events: `") + eventFileName + u'`', QString()};
    const QString dash = QStringLiteral("—");
    for (const QAPair& pair : pairs) {
        lines << QStringLiteral("### ") + pair.timestamp +
                     (pair.wasExtended ? QStringLiteral(" (question extended)") : QString());
        lines << QStringLiteral("**Interviewer:** ") +
                     (pair.question.isEmpty() ? dash : pair.question);
        // Beside the transcript, so the link holds wherever the folder goes.
        if (!pair.picture.isEmpty())
            lines << QString()
                  << QStringLiteral("![%1](%2)")
                         .arg(pair.question, QFileInfo(pair.picture).fileName());
        lines << QString();
        lines << QStringLiteral("**Velmora:** ") + (pair.answer.isEmpty() ? dash : pair.answer);
        if (!pair.myAnswer.isEmpty())
            lines << QString() << QStringLiteral("**You:** ") + pair.myAnswer;
        lines << QString();
    }
    return lines.join(u'\n');
}

QString transcriptForExport(const QList<QAPair>& pairs) {
    QStringList cards;
    for (const QAPair& pair : pairs)
        cards << u'[' + pair.timestamp + QStringLiteral("] Q: ") + pair.question +
                     QStringLiteral("\nA: ") + pair.answer;
    return cards.join(QStringLiteral("\n\n"));
}
