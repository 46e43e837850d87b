#pragma once

#include "realtime/RealtimeClientInterface.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// The Realtime API's wire format: every message the client sends and every event it reads.
// Pure functions, no sockets, so each message can be checked against its exact JSON.
namespace RealtimeProtocol {
using Config = RealtimeClientInterface::Config;

inline const QString outputTextContentType = QStringLiteral("output_text");
inline const QString legacyTextContentType = QStringLiteral("text");

// Compact JSON text of one message (one WebSocket text frame).
QString serialize(const QJsonObject& message);

QJsonObject sessionUpdate(const Config& config, bool legacyShape);
QJsonObject audioAppend(const QByteArray& pcm16);
// `itemID` names the item (for a later insertion after it); `previousItemID` places it after
// that item instead of at the end of the conversation. Either may be empty.
QJsonObject userText(const QString& text, const QString& itemID = QString());
QJsonObject assistantText(const QString& text, const QString& contentType,
                          const QString& itemID = QString(),
                          const QString& previousItemID = QString());
// The user's words with a picture (JPEG bytes) after them, for a question about the screen.
QJsonObject userTextWithImage(const QString& text, const QByteArray& jpeg);
QJsonObject responseCancel();
// `metadata` is echoed back by the service in the response's created and done events.
QJsonObject responseCreate(const QJsonObject& metadata = QJsonObject());
// The message with the id the service quotes in an error it causes.
QJsonObject withEventID(QJsonObject message, const QString& eventID);

// The models a refusal of a parameter's value says it takes, in the order it gives them:
// "Invalid value: 'x'. Supported values are: 'a', 'b', and 'c'." → a, b, c.
QStringList supportedValues(const QString& message);

// One server event, already reduced to what the client acts on. Events that call for nothing
// (unknown types, empty deltas, responses without an id) are `ignored`; a transcript that came
// out empty is a `transcript` with empty text, so the client can say the question was lost.
struct ServerEvent {
    enum class Kind {
        ignored,
        sessionCreated,
        sessionUpdated,
        committed,
        transcript,
        responseCreated,
        delta,
        responseDone,
        transcriptionFailed,
        transcriptDelta,
        itemAdded,
        outputItemAdded,
        strayDelta,
        error
    };
    Kind kind = Kind::ignored;
    QString id;   // item id (committed audio, transcript, added item) or response id
    QString text; // transcript, delta fragment, error message, or an added item's role
    // A delta's or an output item's own item; the item an added or committed one follows.
    QString itemID;
    QString previousItemID;
    // What the client asked a response to carry, as the service echoes it.
    QJsonObject metadata;
    // An error's cause: the client event it answers, and the parameter it refuses.
    QString causeEventID;
    QString param;
    // A response's usage, or a transcript's (billed apart; a transcript that came out empty
    // still carries its usage, with empty text).
    std::optional<QJsonObject> usage;
    // A done response that did not complete: "failed", "incomplete" or "cancelled"; empty when
    // it completed.
    QString status;
    // The service's short code of an error or of an unfinished response ("insufficient_quota",
    // "max_output_tokens", …).
    QString reason;
};

// `utf8` is one frame's text; a frame that is not a JSON object with a string "type" is ignored.
ServerEvent decode(const QByteArray& utf8);

// What an "error" event asks of the client, given the state it arrived in.
enum class ErrorAction {
    transcriptionModelFallback,
    legacyShapeFallback,
    contentTypeFallback,
    report
};
ErrorAction classifyError(const QString& message, bool isConfigured, bool usedLegacyShape,
                          const QString& assistantContentType, const QString& param = QString());
inline const QString transcriptionModelParam =
    QStringLiteral("session.audio.input.transcription.model");
} // namespace RealtimeProtocol
