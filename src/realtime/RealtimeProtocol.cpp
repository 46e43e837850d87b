#include "realtime/RealtimeProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace RealtimeProtocol {
namespace {

QJsonObject turnDetection(const Config& config) {
    return {{QStringLiteral("type"), QStringLiteral("server_vad")},
            {QStringLiteral("threshold"), config.vadThreshold},
            {QStringLiteral("prefix_padding_ms"), config.prefixPaddingMs},
            {QStringLiteral("silence_duration_ms"), config.silenceDurationMs},
            {QStringLiteral("create_response"), true},
            {QStringLiteral("interrupt_response"), false}};
}

QJsonObject currentSession(const Config& config) {
    const QJsonObject input{{QStringLiteral("format"),
                             QJsonObject{{QStringLiteral("type"), QStringLiteral("audio/pcm")},
                                         {QStringLiteral("rate"), 24000}}},
                            {QStringLiteral("turn_detection"), turnDetection(config)},
                            {QStringLiteral("transcription"),
                             QJsonObject{{QStringLiteral("model"), config.transcribeModel}}}};
    return {{QStringLiteral("type"), QStringLiteral("realtime")},
            {QStringLiteral("model"), config.model},
            {QStringLiteral("output_modalities"), QJsonArray{QStringLiteral("text")}},
            {QStringLiteral("instructions"), config.instructions},
            {QStringLiteral("audio"), QJsonObject{{QStringLiteral("input"), input}}}};
}

QJsonObject legacySession(const Config& config) {
    return {{QStringLiteral("modalities"), QJsonArray{QStringLiteral("text")}},
            {QStringLiteral("instructions"), config.instructions},
            {QStringLiteral("input_audio_format"), QStringLiteral("pcm16")},
            {QStringLiteral("input_audio_transcription"),
             QJsonObject{{QStringLiteral("model"), config.transcribeModel}}},
            {QStringLiteral("turn_detection"), turnDetection(config)}};
}

QJsonObject textItem(const QString& role, const QString& contentType, const QString& text) {
    const QJsonObject part{{QStringLiteral("type"), contentType}, {QStringLiteral("text"), text}};
    return {
        {QStringLiteral("type"), QStringLiteral("conversation.item.create")},
        {QStringLiteral("item"), QJsonObject{{QStringLiteral("type"), QStringLiteral("message")},
                                             {QStringLiteral("role"), role},
                                             {QStringLiteral("content"), QJsonArray{part}}}}};
}

std::optional<QString> stringMember(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QJsonObject> objectMember(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (!value.isObject())
        return std::nullopt;
    return value.toObject();
}

ServerEvent makeEvent(ServerEvent::Kind kind, const QString& id = {}, const QString& text = {}) {
    ServerEvent event;
    event.kind = kind;
    event.id = id;
    event.text = text;
    return event;
}

ServerEvent decodeTranscript(const QJsonObject& event) {
    const QString text = stringMember(event, QStringLiteral("transcript")).value_or(QString());
    ServerEvent result = makeEvent(ServerEvent::Kind::transcript, {}, text.trimmed());
    result.usage = objectMember(event, QStringLiteral("usage"));
    result.id = stringMember(event, QStringLiteral("item_id"))
                    .value_or(QUuid::createUuid().toString(QUuid::WithoutBraces));
    return result;
}

// The short code of an error object: its "code", else its "type".
QString errorReason(const QJsonObject& error) {
    return stringMember(error, QStringLiteral("code"))
        .value_or(stringMember(error, QStringLiteral("type")).value_or(QString()));
}

ServerEvent decodeTranscriptionFailed(const QJsonObject& event) {
    ServerEvent result = makeEvent(ServerEvent::Kind::transcriptionFailed);
    result.id = stringMember(event, QStringLiteral("item_id")).value_or(QString());
    const auto error = objectMember(event, QStringLiteral("error"));
    if (error) {
        result.text = stringMember(*error, QStringLiteral("message")).value_or(QString());
        result.reason = errorReason(*error);
    }
    if (result.text.isEmpty())
        result.text = QStringLiteral("transcription failed");
    return result;
}

ServerEvent decodeResponseCreated(const QJsonObject& event) {
    const auto response = objectMember(event, QStringLiteral("response"));
    const auto id = response ? stringMember(*response, QStringLiteral("id")) : std::nullopt;
    if (!id)
        return {};
    return makeEvent(ServerEvent::Kind::responseCreated, *id);
}

ServerEvent decodeDelta(const QJsonObject& event) {
    const QString delta = stringMember(event, QStringLiteral("delta")).value_or(QString());
    if (delta.isEmpty())
        return {};
    return makeEvent(
        ServerEvent::Kind::delta,
        stringMember(event, QStringLiteral("response_id")).value_or(QStringLiteral("current")),
        delta);
}

ServerEvent decodeResponseDone(const QJsonObject& event) {
    const auto response = objectMember(event, QStringLiteral("response"));
    ServerEvent result = makeEvent(ServerEvent::Kind::responseDone, QStringLiteral("current"));
    if (!response)
        return result;
    result.id = stringMember(*response, QStringLiteral("id")).value_or(result.id);
    result.usage = objectMember(*response, QStringLiteral("usage"));
    const QString status = stringMember(*response, QStringLiteral("status")).value_or(QString());
    if (status != u"failed" && status != u"incomplete" && status != u"cancelled")
        return result;
    result.status = status;
    // {"type":"failed","error":{"code":…,"message":…}} or {"type":"incomplete","reason":…}
    const auto details = objectMember(*response, QStringLiteral("status_details"));
    if (!details)
        return result;
    const auto error = objectMember(*details, QStringLiteral("error"));
    if (error) {
        result.reason = errorReason(*error);
        result.text = stringMember(*error, QStringLiteral("message")).value_or(QString());
    }
    if (result.reason.isEmpty())
        result.reason = stringMember(*details, QStringLiteral("reason")).value_or(QString());
    return result;
}

ServerEvent decodeError(const QJsonObject& event) {
    const auto error = objectMember(event, QStringLiteral("error"));
    const auto message = error ? stringMember(*error, QStringLiteral("message")) : std::nullopt;
    ServerEvent result = makeEvent(ServerEvent::Kind::error, {},
                                   message.value_or(QStringLiteral("unknown realtime error")));
    if (error)
        result.reason = errorReason(*error);
    return result;
}

} // namespace

QString serialize(const QJsonObject& message) {
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QJsonObject sessionUpdate(const Config& config, bool legacyShape) {
    return {
        {QStringLiteral("type"), QStringLiteral("session.update")},
        {QStringLiteral("session"), legacyShape ? legacySession(config) : currentSession(config)}};
}

QJsonObject audioAppend(const QByteArray& pcm16) {
    return {{QStringLiteral("type"), QStringLiteral("input_audio_buffer.append")},
            {QStringLiteral("audio"), QString::fromLatin1(pcm16.toBase64())}};
}

QJsonObject userText(const QString& text) {
    return textItem(QStringLiteral("user"), QStringLiteral("input_text"), text);
}

QJsonObject assistantText(const QString& text, const QString& contentType) {
    return textItem(QStringLiteral("assistant"), contentType, text);
}

QJsonObject responseCancel() {
    return {{QStringLiteral("type"), QStringLiteral("response.cancel")}};
}

QJsonObject responseCreate() {
    return {{QStringLiteral("type"), QStringLiteral("response.create")}};
}

ServerEvent decode(const QByteArray& utf8) {
    const QJsonDocument document = QJsonDocument::fromJson(utf8);
    if (!document.isObject())
        return {};
    const QJsonObject event = document.object();
    const auto type = stringMember(event, QStringLiteral("type"));
    if (!type)
        return {};
    if (*type == u"session.created")
        return makeEvent(ServerEvent::Kind::sessionCreated);
    if (*type == u"session.updated")
        return makeEvent(ServerEvent::Kind::sessionUpdated);
    if (*type == u"input_audio_buffer.committed") {
        const auto item = stringMember(event, QStringLiteral("item_id"));
        return item ? makeEvent(ServerEvent::Kind::committed, *item) : ServerEvent{};
    }
    if (*type == u"conversation.item.input_audio_transcription.completed")
        return decodeTranscript(event);
    if (*type == u"conversation.item.input_audio_transcription.failed")
        return decodeTranscriptionFailed(event);
    if (*type == u"response.created")
        return decodeResponseCreated(event);
    if (*type == u"response.output_text.delta" || *type == u"response.text.delta")
        return decodeDelta(event);
    if (*type == u"response.done")
        return decodeResponseDone(event);
    if (*type == u"error")
        return decodeError(event);
    return {};
}

ErrorAction classifyError(const QString& message, bool isConfigured, bool usedLegacyShape,
                          const QString& assistantContentType) {
    if (!isConfigured && !usedLegacyShape) {
        const QString lower = message.toLower();
        for (const char16_t* marker :
             {u"unknown parameter", u"invalid_value", u"additional properties"}) {
            if (lower.contains(QStringView(marker)))
                return ErrorAction::legacyShapeFallback;
        }
    }
    if (message.contains(u"output_text") && assistantContentType == outputTextContentType)
        return ErrorAction::contentTypeFallback;
    return ErrorAction::report;
}

} // namespace RealtimeProtocol
