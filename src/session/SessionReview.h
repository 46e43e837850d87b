#pragma once

#include "session/RecordingLevels.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// A finished session as a coach would look at it, read back from its event log alone, so a
// session of any age gives the same page: the questions and their answers, how long the user
// spoke to each, how soon each drafted answer began, what each cost, and what went wrong.
namespace SessionReview {

struct Card {
    QString pair;
    QString question;
    QString answer;
    QString myAnswer;
    std::optional<double> latency;       // question to the first text of its answer, seconds
    std::optional<double> answerSeconds; // the user's own answer
    std::optional<double> cost;          // the answer's dollars
    bool extended = false;
};

struct Failure {
    QString reason;
    QString message;
};

struct Review {
    QString stamp; // from the log's file name
    QString model;
    double lengthSeconds = 0;
    std::optional<double> cost; // the whole session's dollars
    QList<Card> cards;
    QList<double> askedAt;              // when each question came, seconds
    QList<double> answerStarts;         // when each drafted answer began
    QList<QPair<double, double>> spoke; // the user's answers: from, to
    int followUps = 0;
    QList<Failure> failures;
    bool cutShort = false;         // no "session_ended": the app did not close the log
    std::optional<int> brokenLine; // the first line that does not parse, 1-based
    std::optional<RecordingLevels::Levels> levels; // when the session was recorded

    std::optional<double> medianAnswer() const;
    std::optional<double> longestAnswer() const;
    // The share of the session the user spent answering, 0 to 1.
    double speakingShare() const;
    std::optional<double> costPerMinute() const;
};

// Reads an event log's text; `fileName` gives the stamp.
Review read(const QByteArray& eventLog, const QString& fileName);

// One self-contained page: inline CSS and SVG, nothing fetched, light and dark by the reader's
// preference, printable.
QString html(const Review& review);

// Where the page of the log at `eventLogPath` goes: beside it, "….review.html"; and where the
// session's recording is, if it was recorded: "….wav".
QString pagePath(const QString& eventLogPath);
QString recordingPath(const QString& eventLogPath);

// Slices of the recording's level strip across the page.
constexpr int levelSlices = 300;

// Reads the log (and the recording beside it, unless skipped: an hour of it takes a while) and
// writes its page, whole or not at all: the page's path, or why not.
struct Written {
    QString path;
    QString error; // empty when written
};
enum class Recording { read, skip };
Written writePage(const QString& eventLogPath, Recording recording = Recording::read);

} // namespace SessionReview
