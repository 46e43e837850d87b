#pragma once

#include "session/QAPair.h"

#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

class Clock;

// The JSON-lines event file of one session: one object per line, keys sorted, no extra white
// space, every record with `event` and `t` (seconds since opening, 3 decimals). Failures to
// open or write are ignored: the session runs on without records.
class SessionLog {
public:
    SessionLog(const QString& directory, const QString& stamp, const Clock& clock);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    void append(const QString& event, const QJsonObject& fields = {});
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString jsonPath() const { return m_jsonPath; }
    double started() const { return m_started; }

    // The meeting transcript beside the event file, written atomically. Its path, or nothing
    // when it could not be written.
    std::optional<QString> writeMarkdown(const QList<QAPair>& pairs, const QString& directory,
                                         const QString& stamp) const;

    // The serialised form of one record (without the line feed).
    static QByteArray encode(const QJsonObject& record);

private:
    const Clock& m_clock;
    QString m_jsonPath;
    double m_started;
    QFile m_file;
};

// The session's folder: the documents folder + "/Corvinel".
QString sessionDirectory();

// The markdown transcript of the cards.
QString meetingTranscript(const QList<QAPair>& pairs, const QString& stamp, double lengthSeconds,
                          const QString& eventFileName);
// The plain-text transcript for the clipboard.
QString transcriptForExport(const QList<QAPair>& pairs);
