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
    QJsonObject session{{QStringLiteral("type"), QStringLiteral("realtime")},
                        {QStringLiteral("model"), config.model},
                        {QStringLiteral("output_modalities"), QJsonArray{QStringLiteral("text")}},
                        {QStringLiteral("instructions"), config.instructions},
                        {QStringLiteral("audio"), QJsonObject{{QStringLiteral("input"), input}}}};
    if (!config.reasoningEffort.isEmpty())
        session.insert(QStringLiteral("reasoning"),
                       QJsonObject{{QStringLiteral("effort"), config.reasoningEffort}});
    return session;
}

QJsonObject legacySession(const Config& config) {
    return {{QStringLiteral("modalities"), QJsonArray{QStringLiteral("text")}},
            {QStringLiteral("instructions"), config.instructions},
            {QStringLiteral("input_audio_format"), QStringLiteral("pcm16")},
            {QStringLiteral("input_audio_transcription"),
             QJsonObject{{QStringLiteral("model"), config.transcribeModel}}},
            {QStringLiteral("turn_detection"), turnDetection(config)}};
}

QJsonObject textItem(const QString& role, const QString& contentType, const QString& text,
                     const QString& itemID, const QString& previousItemID) {
    const QJsonObject part{{QStringLiteral("type"), contentType}, {QStringLiteral("text"), text}};
    QJsonObject item{{QStringLiteral("type"), QStringLiteral("message")},
                     {QStringLiteral("role"), role},
                     {QStringLiteral("content"), QJsonArray{part}}};
    if (!itemID.isEmpty())
        item.insert(QStringLiteral("id"), itemID);
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("conversation.item.create")},
                        {QStringLiteral("item"), item}};
    if (!previousItemID.isEmpty())
        message.insert(QStringLiteral("previous_item_id"), previousItemID);
    return message;
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
    ServerEvent result = makeEvent(ServerEvent::Kind::responseCreated, *id);
    result.metadata = objectMember(*response, QStringLiteral("metadata")).value_or(QJsonObject());
    return result;
}

// A delta that does not say which response it belongs to cannot be placed: it is reported as
// stray, so the client can say so instead of guessing a card.
ServerEvent decodeDelta(const QJsonObject& event) {
    const QString delta = stringMember(event, QStringLiteral("delta")).value_or(QString());
    if (delta.isEmpty())
        return {};
    const auto response = stringMember(event, QStringLiteral("response_id"));
    ServerEvent result =
        makeEvent(response ? ServerEvent::Kind::delta : ServerEvent::Kind::strayDelta,
                  response.value_or(QString()), delta);
    result.itemID = stringMember(event, QStringLiteral("item_id")).value_or(QString());
    return result;
}

ServerEvent decodeTranscriptDelta(const QJsonObject& event) {
    const auto item = stringMember(event, QStringLiteral("item_id"));
    const QString delta = stringMember(event, QStringLiteral("delta")).value_or(QString());
    if (!item || delta.isEmpty())
        return {};
    return makeEvent(ServerEvent::Kind::transcriptDelta, *item, delta);
}

// conversation.item.added (and its former name, conversation.item.created): the item, its role,
// and the item it follows in the conversation.
ServerEvent decodeItemAdded(const QJsonObject& event) {
    const auto item = objectMember(event, QStringLiteral("item"));
    const auto id = item ? stringMember(*item, QStringLiteral("id")) : std::nullopt;
    if (!id)
        return {};
    ServerEvent result = makeEvent(ServerEvent::Kind::itemAdded, *id,
                                   stringMember(*item, QStringLiteral("role")).value_or(QString()));
    result.previousItemID =
        stringMember(event, QStringLiteral("previous_item_id")).value_or(QString());
    return result;
}

ServerEvent decodeOutputItemAdded(const QJsonObject& event) {
    const auto response = stringMember(event, QStringLiteral("response_id"));
    const auto item = objectMember(event, QStringLiteral("item"));
    const auto id = item ? stringMember(*item, QStringLiteral("id")) : std::nullopt;
    if (!response || !id)
        return {};
    ServerEvent result = makeEvent(ServerEvent::Kind::outputItemAdded, *response);
    result.itemID = *id;
    return result;
}

ServerEvent decodeResponseDone(const QJsonObject& event) {
    const auto response = objectMember(event, QStringLiteral("response"));
    ServerEvent result = makeEvent(ServerEvent::Kind::responseDone, QStringLiteral("current"));
    if (!response)
        return result;
    result.id = stringMember(*response, QStringLiteral("id")).value_or(result.id);
    result.usage = objectMember(*response, QStringLiteral("usage"));
    result.metadata = objectMember(*response, QStringLiteral("metadata")).value_or(QJsonObject());
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
    if (error) {
        result.reason = errorReason(*error);
        result.causeEventID = stringMember(*error, QStringLiteral("event_id")).value_or(QString());
        result.param = stringMember(*error, QStringLiteral("param")).value_or(QString());
    }
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

QJsonObject userText(const QString& text, const QString& itemID) {
    return textItem(QStringLiteral("user"), QStringLiteral("input_text"), text, itemID, {});
}

QJsonObject assistantText(const QString& text, const QString& contentType, const QString& itemID,
                          const QString& previousItemID) {
    return textItem(QStringLiteral("assistant"), contentType, text, itemID, previousItemID);
}

QJsonObject userTextWithImage(const QString& text, const QByteArray& jpeg) {
    const QJsonArray content{
        QJsonObject{{QStringLiteral("type"), QStringLiteral("input_text")},
                    {QStringLiteral("text"), text}},
        QJsonObject{{QStringLiteral("type"), QStringLiteral("input_image")},
                    {QStringLiteral("image_url"), QStringLiteral("data:image/jpeg;base64,") +
                                                      QString::fromLatin1(jpeg.toBase64())}}};
    return {
        {QStringLiteral("type"), QStringLiteral("conversation.item.create")},
        {QStringLiteral("item"), QJsonObject{{QStringLiteral("type"), QStringLiteral("message")},
                                             {QStringLiteral("role"), QStringLiteral("user")},
                                             {QStringLiteral("content"), content}}}};
}

QJsonObject responseCancel() {
    return {{QStringLiteral("type"), QStringLiteral("response.cancel")}};
}

QJsonObject responseCreate(const QJsonObject& metadata) {
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("response.create")}};
    if (!metadata.isEmpty())
        message.insert(QStringLiteral("response"),
                       QJsonObject{{QStringLiteral("metadata"), metadata}});
    return message;
}

QJsonObject withEventID(QJsonObject message, const QString& eventID) {
    message.insert(QStringLiteral("event_id"), eventID);
    return message;
}

QStringList supportedValues(const QString& message) {
    const qsizetype at = message.indexOf(QStringLiteral("upported values"));
    if (at < 0)
        return {};
    QStringList values;
    const QStringList parts = message.mid(at).split(u'\'');
    // Every other part is a quoted value: "…are: ", "a", ", ", "b", ", and ", "c", "."
    for (qsizetype i = 1; i < parts.size(); i += 2)
        if (!parts[i].trimmed().isEmpty())
            values.append(parts[i].trimmed());
    return values;
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
        if (!item)
            return {};
        ServerEvent result = makeEvent(ServerEvent::Kind::committed, *item);
        result.previousItemID =
            stringMember(event, QStringLiteral("previous_item_id")).value_or(QString());
        return result;
    }
    if (*type == u"conversation.item.input_audio_transcription.completed")
        return decodeTranscript(event);
    if (*type == u"conversation.item.input_audio_transcription.failed")
        return decodeTranscriptionFailed(event);
    if (*type == u"response.created")
        return decodeResponseCreated(event);
    if (*type == u"response.output_text.delta" || *type == u"response.text.delta")
        return decodeDelta(event);
    if (*type == u"conversation.item.input_audio_transcription.delta")
        return decodeTranscriptDelta(event);
    if (*type == u"conversation.item.added" || *type == u"conversation.item.created")
        return decodeItemAdded(event);
    if (*type == u"response.output_item.added")
        return decodeOutputItemAdded(event);
    if (*type == u"response.done")
        return decodeResponseDone(event);
    if (*type == u"error")
        return decodeError(event);
    return {};
}

ErrorAction classifyError(const QString& message, bool isConfigured, bool usedLegacyShape,
                          const QString& assistantContentType, const QString& param) {
    // Checked first: it is a value the current shape takes, and the legacy one has the same field.
    if (param == transcriptionModelParam ||
        (param.isEmpty() && message.contains(u"transcription.model")))
        return ErrorAction::transcriptionModelFallback;
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
