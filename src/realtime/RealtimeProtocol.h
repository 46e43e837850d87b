#pragma once

#include "realtime/RealtimeClientInterface.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
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
QJsonObject userText(const QString& text);
QJsonObject assistantText(const QString& text, const QString& contentType);
QJsonObject responseCancel();
QJsonObject responseCreate();

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
        error
    };
    Kind kind = Kind::ignored;
    QString id;   // item id (committed audio, transcript) or response id
    QString text; // transcript, delta fragment or error message
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
enum class ErrorAction { legacyShapeFallback, contentTypeFallback, report };
ErrorAction classifyError(const QString& message, bool isConfigured, bool usedLegacyShape,
                          const QString& assistantContentType);
} // namespace RealtimeProtocol
