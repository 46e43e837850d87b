#pragma once

#include "session/QAPair.h"

#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <memory>
#include <optional>
#include <variant>

class Clock;

// A file of the session as it stands on disk: its path, and why it is missing or short.
struct SavedFile {
    QString path;
    QString error; // empty when the file holds everything
    bool isComplete() const { return error.isEmpty(); }
};

// The JSON-lines event file of one session: one object per line, keys sorted, no extra white
// space, every record with `event` and `t` (seconds since begin(), 3 decimals). A record the
// disk refuses ends the file at the last whole line, so every line still parses; failure()
// then says why, and the session runs on.
class SessionLog {
public:
    using Reserved = std::variant<std::unique_ptr<SessionLog>, QString>;

    // Takes the session's stamp by creating its event file, exclusively: a stamp any file
    // already carries, or one another session (of any process) creates first, gives way to
    // "<stamp>-2", "-3"…. Makes the folder when missing. Fails with the file system's reason
    // (a folder that cannot be made or written).
    static Reserved reserve(const QString& directory, const QString& stamp, const Clock& clock);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    QString stamp() const { return m_stamp; }
    // The session has started: records are written from now on, timed from now.
    void begin();
    void append(const QString& event, const QJsonObject& fields = {});
    void close();
    // For a session that never began: its empty file goes.
    void discard();
    bool hasBegun() const { return m_begun; }
    QString jsonPath() const { return m_jsonPath; }
    double started() const { return m_started; }
    const std::optional<QString>& failure() const { return m_failure; }

    // The meeting transcript beside the event file, written whole or not at all.
    SavedFile writeMarkdown(const QList<QAPair>& pairs) const;

    // The serialised form of one record (without the line feed).
    static QByteArray encode(const QJsonObject& record);

private:
    SessionLog(const QString& directory, const QString& stamp, const Clock& clock);

    const Clock& m_clock;
    QString m_directory;
    QString m_stamp;
    QString m_jsonPath;
    double m_started;
    QFile m_file;
    qint64 m_written = 0;
    bool m_begun = false;
    std::optional<QString> m_failure;
};

// The session's folder: the documents folder + "/Corvinel".
QString sessionDirectory();

// The markdown transcript of the cards.
QString meetingTranscript(const QList<QAPair>& pairs, const QString& stamp, double lengthSeconds,
                          const QString& eventFileName);
// The plain-text transcript for the clipboard.
QString transcriptForExport(const QList<QAPair>& pairs);
