#include "session/SessionLog.h"

#include "session/Clock.h"
#include "session/QAFlow.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

QString sessionDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/Corvinel");
}

SessionLog::SessionLog(const QString& directory, const QString& stamp, const Clock& clock)
    : m_clock(clock),
      m_jsonPath(directory + QStringLiteral("/meeting_") + stamp + QStringLiteral(".events.jsonl")),
      m_started(clock.now()), m_file(m_jsonPath) {
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        append(QStringLiteral("session_started"));
}

SessionLog::~SessionLog() {
    close();
}

QByteArray SessionLog::encode(const QJsonObject& record) {
    // QJsonObject keeps its keys sorted, and the compact form has no extra white space.
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

void SessionLog::append(const QString& event, const QJsonObject& fields) {
    if (!m_file.isOpen())
        return;
    QJsonObject record = fields;
    record.insert(QStringLiteral("t"), roundTo(m_clock.now() - m_started, 3));
    record.insert(QStringLiteral("event"), event);
    m_file.write(encode(record) + '\n');
    m_file.flush(); // each record reaches the disk at once: a crash loses nothing written
}

void SessionLog::close() {
    if (!m_file.isOpen())
        return;
    append(QStringLiteral("session_ended"));
    m_file.close();
}

std::optional<QString> SessionLog::writeMarkdown(const QList<QAPair>& pairs,
                                                 const QString& directory,
                                                 const QString& stamp) const {
    const QString path =
        directory + QStringLiteral("/meeting_") + stamp + QStringLiteral(".transcript.md");
    const QString text = meetingTranscript(pairs, stamp, m_clock.now() - m_started,
                                           QFileInfo(m_jsonPath).fileName());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    file.write(text.toUtf8());
    if (!file.commit())
        return std::nullopt;
    return path;
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
