#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>

// The session controller's view of the model client. Every operation returns at once; the
// callbacks are delivered on the main thread, in order, and never once the client is gone.
// Each start() and stop() begins a new run: nothing the client heard in an earlier run is
// delivered after it (a stop still reports its idle status).
class RealtimeClientInterface {
public:
    struct Config {
        QString apiKey;
        QString model;
        QString transcribeModel;
        QString instructions;
        double vadThreshold = 0.5;
        int prefixPaddingMs = 300;
        int silenceDurationMs = 800;
        int reconnectMinutes = 25;
        // The reasoning effort to ask of a model that takes it; empty sends none.
        QString reasoningEffort;
        friend bool operator==(const Config&, const Config&) = default;
    };

    struct Status {
        enum class Kind { idle, connecting, connected, reconnecting, failed };
        Kind kind = Kind::idle;
        QString message; // why: a failure's text, or what a reconnect waits for

        static Status idle() { return {Kind::idle, {}}; }
        static Status connecting() { return {Kind::connecting, {}}; }
        static Status connected() { return {Kind::connected, {}}; }
        static Status reconnecting() { return {Kind::reconnecting, {}}; }
        static Status failed(const QString& message) { return {Kind::failed, message}; }
        bool isFailed() const { return kind == Kind::failed; }
        // Two failures are equal when their messages are.
        friend bool operator==(const Status&, const Status&) = default;
    };

    // One earlier question and its answer, oldest first in a history.
    struct HistoryPair {
        QString question;
        QString answer;
        friend bool operator==(const HistoryPair&, const HistoryPair&) = default;
    };

    // How a response ended short of a full answer.
    struct ResponseEnd {
        QString status;  // "failed", "incomplete" or "cancelled"
        QString reason;  // the service's short code: "insufficient_quota", "max_output_tokens", …
        QString message; // the service's own words, when it gave any
        friend bool operator==(const ResponseEnd&, const ResponseEnd&) = default;
    };

    virtual ~RealtimeClientInterface() = default;

    virtual void start(const Config& config) = 0;
    virtual void stop() = 0;
    // 24 kHz mono little-endian PCM16. Callable from any thread (the capture threads).
    virtual void append(const QByteArray& pcm16) = 0;
    virtual void updateHistory(const QList<HistoryPair>& pairs) = 0;
    virtual void updateInstructions(const QString& instructions) = 0;
    // Asks for a fresh answer to `question` (a merged follow-up) for the card `cardID`, as soon
    // as no other answer is being written; the answer is announced with that card.
    // `image`, when given, is a JPEG sent after the words (a question about the screen).
    virtual void regenerate(const QString& cardID, const QString& question,
                            const QByteArray& image = QByteArray()) = 0;
    // Stops an answer no card wants any more, if it is still being written.
    virtual void cancelResponse(const QString& responseID) = 0;
    // The question heard in this audio was folded into an earlier card: it needs no answer of
    // its own.
    virtual void skipTurn(const QString& itemID) = 0;

    std::function<void(const Status&)> onStatus;
    std::function<void(const QString& itemID, const QString& text)> onTranscript;
    // A response has begun. `itemID` is the committed input audio it answers, `cardID` the card
    // of a regenerate(); both are empty when the service did not say what it answers.
    std::function<void(const QString& responseID, const QString& itemID, const QString& cardID)>
        onResponseCreated;
    // A question heard while another answer is being written: its answer is asked for once the
    // conversation is free.
    std::function<void(const QString& itemID)> onTurnWaiting;
    // The service refused to answer a question or a card this client asked an answer for.
    std::function<void(const QString& itemID, const QString& cardID, const QString& code,
                       const QString& message)>
        onAnswerRefused;
    // The question as it is heard, piece by piece, before its transcription completes.
    std::function<void(const QString& itemID, const QString& delta)> onTranscriptDelta;
    // The service refused the chosen transcription model; `used` is the one taken instead for
    // this run.
    std::function<void(const QString& refused, const QString& used)> onTranscriptionModelReplaced;
    std::function<void(const QString& responseID, const QString& delta)> onDelta;
    std::function<void(const QString& responseID)> onResponseDone;
    // Comes just before the done of a response that did not end "completed".
    std::function<void(const QString& responseID, const ResponseEnd& end)> onResponseUnfinished;
    // A question the service heard but could not transcribe, or whose transcript came back empty.
    std::function<void(const QString& itemID, const QString& message)> onTranscriptionFailed;
    // An "error" event of a running session; `code` is the service's short code, if any.
    std::function<void(const QString& code, const QString& message)> onServiceError;
    std::function<void(const QJsonObject& usage)> onUsage;
    // The `usage` of a transcription of the input audio, billed apart from the responses.
    std::function<void(const QJsonObject& usage)> onTranscriptionUsage;
    std::function<void(const QString& line)> onLog;
};
