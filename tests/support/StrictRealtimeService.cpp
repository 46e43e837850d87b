#include "support/StrictRealtimeService.h"

#include "support/FakeRealtimeServer.h"

#include <QJsonArray>
#include <QTimer>

namespace {
QString type(const QJsonObject& frame) {
    return frame.value(QStringLiteral("type")).toString();
}

QJsonObject assistantItem(const QString& id, const char* status) {
    return {{QStringLiteral("id"), id},
            {QStringLiteral("object"), QStringLiteral("realtime.item")},
            {QStringLiteral("type"), QStringLiteral("message")},
            {QStringLiteral("status"), QString::fromLatin1(status)},
            {QStringLiteral("role"), QStringLiteral("assistant")},
            {QStringLiteral("content"), QJsonArray()}};
}

// Token-billed transcription models report tokens; the others bill the seconds of audio.
bool billsTokens(const QString& model) {
    return model.startsWith(u"gpt-4o-transcribe") || model.startsWith(u"gpt-4o-mini-transcribe");
}
} // namespace

StrictRealtimeService::StrictRealtimeService(FakeRealtimeServer& server)
    : QObject(&server), m_server(server) {
    server.setAutoConfigure(false);
    server.setStampEvents(true);
    connect(&server, &FakeRealtimeServer::frameReceived, this, &StrictRealtimeService::onFrame);
    connect(&server, &FakeRealtimeServer::clientConnected, this, &StrictRealtimeService::reset);
}

void StrictRealtimeService::refuseTranscriptionModel(const QString& model,
                                                     const QStringList& supported) {
    m_refusedModel = model;
    m_supportedModels = supported;
}

QJsonObject StrictRealtimeService::usageOf(int textIn, int textCached, int audioIn, int audioCached,
                                           int textOut) {
    const QJsonObject cached{{QStringLiteral("text_tokens"), textCached},
                             {QStringLiteral("audio_tokens"), audioCached},
                             {QStringLiteral("image_tokens"), 0}};
    const QJsonObject in{{QStringLiteral("text_tokens"), textIn},
                         {QStringLiteral("audio_tokens"), audioIn},
                         {QStringLiteral("image_tokens"), 0},
                         {QStringLiteral("cached_tokens"), textCached + audioCached},
                         {QStringLiteral("cached_tokens_details"), cached}};
    const QJsonObject out{{QStringLiteral("text_tokens"), textOut},
                          {QStringLiteral("audio_tokens"), 0}};
    return {{QStringLiteral("total_tokens"), textIn + audioIn + textOut},
            {QStringLiteral("input_tokens"), textIn + audioIn},
            {QStringLiteral("output_tokens"), textOut},
            {QStringLiteral("input_token_details"), in},
            {QStringLiteral("output_token_details"), out}};
}

void StrictRealtimeService::reset() {
    m_items.clear();
    m_active.reset();
}

QString StrictRealtimeService::newID(const char* prefix) {
    return QStringLiteral("%1_%2").arg(QLatin1String(prefix)).arg(++m_serial);
}

void StrictRealtimeService::send(QJsonObject event) {
    m_server.send(event);
}

QString StrictRealtimeService::activeResponse() const {
    return m_active ? m_active->id : QString();
}

QJsonObject StrictRealtimeService::activeMetadata() const {
    return m_active ? m_active->metadata.toObject() : QJsonObject();
}

void StrictRealtimeService::onFrame(const QJsonObject& frame) {
    const QString kind = type(frame);
    if (kind == u"session.update")
        onSessionUpdate(frame);
    else if (kind == u"response.create")
        onResponseCreate(frame);
    else if (kind == u"response.cancel")
        onResponseCancel(frame);
    else if (kind == u"conversation.item.create")
        onItemCreate(frame);
}

void StrictRealtimeService::refuse(const QJsonObject& frame, const QString& code,
                                   const QString& message, const QString& param) {
    m_errorCodes.append(code);
    QJsonObject error{{QStringLiteral("type"), QStringLiteral("invalid_request_error")},
                      {QStringLiteral("code"), code},
                      {QStringLiteral("message"), message},
                      {QStringLiteral("param"), param.isEmpty() ? QJsonValue() : param},
                      {QStringLiteral("event_id"), frame.value(QStringLiteral("event_id"))}};
    send({{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("error"), error}});
}

void StrictRealtimeService::onSessionUpdate(const QJsonObject& frame) {
    if (!answersSetup)
        return;
    const QJsonObject session = frame.value(QStringLiteral("session")).toObject();
    if (session.value(QStringLiteral("type")).toString() != u"realtime") {
        // The beta shape is retired: the service says so and closes.
        refuse(frame, QStringLiteral("beta_api_shape_disabled"),
               QStringLiteral("The beta Realtime API shape is no longer supported."));
        m_server.close(4000, QStringLiteral("beta_api_shape_disabled"));
        return;
    }
    const QString model = session.value(QStringLiteral("audio"))
                              .toObject()
                              .value(QStringLiteral("input"))
                              .toObject()
                              .value(QStringLiteral("transcription"))
                              .toObject()
                              .value(QStringLiteral("model"))
                              .toString();
    if (!m_refusedModel.isEmpty() && model == m_refusedModel) {
        QStringList quoted;
        for (const QString& name : std::as_const(m_supportedModels))
            quoted << u'\'' + name + u'\'';
        if (quoted.size() > 1)
            quoted.last() = QStringLiteral("and ") + quoted.last();
        refuse(frame, QStringLiteral("invalid_value"),
               QStringLiteral("Invalid value: '%1'. Supported values are: %2.")
                   .arg(model, quoted.join(QStringLiteral(", "))),
               QStringLiteral("session.audio.input.transcription.model"));
        return;
    }
    m_transcriptionModel = model;
    send({{QStringLiteral("type"), QStringLiteral("session.updated")},
          {QStringLiteral("session"), session}});
}

void StrictRealtimeService::onItemCreate(const QJsonObject& frame) {
    QJsonObject item = frame.value(QStringLiteral("item")).toObject();
    QString id = item.value(QStringLiteral("id")).toString();
    if (id.isEmpty())
        id = newID("item");
    item.insert(QStringLiteral("id"), id);
    const QJsonValue previous = frame.value(QStringLiteral("previous_item_id"));
    qsizetype at = m_items.size();
    if (previous.isString()) {
        const qsizetype index = m_items.indexOf(previous.toString());
        if (index < 0) {
            refuse(frame, QStringLiteral("item_not_found"),
                   QStringLiteral("Item with id '%1' not found.").arg(previous.toString()),
                   QStringLiteral("previous_item_id"));
            return;
        }
        at = index + 1;
    }
    m_items.insert(at, id);
    send({{QStringLiteral("type"), QStringLiteral("conversation.item.added")},
          {QStringLiteral("previous_item_id"), at > 0 ? QJsonValue(m_items[at - 1]) : QJsonValue()},
          {QStringLiteral("item"), item}});
}

void StrictRealtimeService::onResponseCreate(const QJsonObject& frame) {
    if (m_active) {
        refuse(frame, QStringLiteral("conversation_already_has_active_response"),
               QStringLiteral("Conversation already has an active response in progress: %1. "
                              "Wait until the response is finished before creating a new one.")
                   .arg(m_active->id));
        return;
    }
    const QJsonObject options = frame.value(QStringLiteral("response")).toObject();
    createResponse(options.value(QStringLiteral("metadata")),
                   options.value(QStringLiteral("conversation")).toString() != u"none");
}

void StrictRealtimeService::onResponseCancel(const QJsonObject& frame) {
    if (!m_active || m_active->cancelling) {
        refuse(frame, QStringLiteral("response_cancel_not_active"),
               QStringLiteral("Cancellation failed: no active response found."));
        return;
    }
    m_active->cancelling = true;
    const QString id = m_active->id;
    QTimer::singleShot(cancelLatencyMs, this, [this, id] {
        if (m_active && m_active->id == id)
            endResponse(QStringLiteral("cancelled"), usageOf(0, 0, 0, 0, 0));
    });
}

void StrictRealtimeService::createResponse(const QJsonValue& metadata, bool inConversation) {
    Response response{newID("resp"), newID("item"), metadata.isObject() ? metadata : QJsonValue(),
                      inConversation, false};
    m_active = response;
    m_createdMetadata.append(metadata.toObject());
    m_createdIDs.append(response.id);
    send({{QStringLiteral("type"), QStringLiteral("response.created")},
          {QStringLiteral("response"),
           QJsonObject{{QStringLiteral("object"), QStringLiteral("realtime.response")},
                       {QStringLiteral("id"), response.id},
                       {QStringLiteral("status"), QStringLiteral("in_progress")},
                       {QStringLiteral("metadata"), response.metadata},
                       {QStringLiteral("output"), QJsonArray()}}}});
    const QJsonObject item = assistantItem(response.itemID, "in_progress");
    send({{QStringLiteral("type"), QStringLiteral("response.output_item.added")},
          {QStringLiteral("response_id"), response.id},
          {QStringLiteral("output_index"), 0},
          {QStringLiteral("item"), item}});
    if (!inConversation)
        return;
    const QJsonValue previous = m_items.isEmpty() ? QJsonValue() : QJsonValue(m_items.last());
    m_items.append(response.itemID);
    send({{QStringLiteral("type"), QStringLiteral("conversation.item.added")},
          {QStringLiteral("previous_item_id"), previous},
          {QStringLiteral("item"), item}});
}

QString StrictRealtimeService::commitTurn() {
    const QString id = newID("item");
    const QJsonValue previous = m_items.isEmpty() ? QJsonValue() : QJsonValue(m_items.last());
    m_items.append(id);
    send({{QStringLiteral("type"), QStringLiteral("input_audio_buffer.committed")},
          {QStringLiteral("previous_item_id"), previous},
          {QStringLiteral("item_id"), id}});
    const QJsonObject audio{{QStringLiteral("type"), QStringLiteral("input_audio")},
                            {QStringLiteral("transcript"), QJsonValue()}};
    send({{QStringLiteral("type"), QStringLiteral("conversation.item.added")},
          {QStringLiteral("previous_item_id"), previous},
          {QStringLiteral("item"), QJsonObject{{QStringLiteral("id"), id},
                                               {QStringLiteral("type"), QStringLiteral("message")},
                                               {QStringLiteral("role"), QStringLiteral("user")},
                                               {QStringLiteral("content"), QJsonArray{audio}}}}});
    // interrupt_response false: a turn that ends while a response runs gets none of its own.
    if (!m_active)
        createResponse(QJsonValue(), true);
    return id;
}

void StrictRealtimeService::hear(const QString& itemID, const QString& text) {
    const QStringList words = text.split(u' ');
    for (qsizetype i = 0; i < words.size(); ++i)
        send({{QStringLiteral("type"),
               QStringLiteral("conversation.item.input_audio_transcription.delta")},
              {QStringLiteral("item_id"), itemID},
              {QStringLiteral("content_index"), 0},
              {QStringLiteral("delta"), i == 0 ? words[i] : u' ' + words[i]}});
}

void StrictRealtimeService::transcribe(const QString& itemID, const QString& text, double seconds) {
    hear(itemID, text);
    const QJsonObject billed =
        billsTokens(m_transcriptionModel)
            ? QJsonObject{{QStringLiteral("type"), QStringLiteral("tokens")},
                          {QStringLiteral("input_tokens"), int(seconds * 10)},
                          {QStringLiteral("output_tokens"), int(text.size() / 4)},
                          {QStringLiteral("total_tokens"), int(seconds * 10 + text.size() / 4)},
                          {QStringLiteral("input_token_details"),
                           QJsonObject{{QStringLiteral("text_tokens"), 0},
                                       {QStringLiteral("audio_tokens"), int(seconds * 10)}}}}
            : QJsonObject{{QStringLiteral("type"), QStringLiteral("duration")},
                          {QStringLiteral("seconds"), seconds}};
    send({{QStringLiteral("type"),
           QStringLiteral("conversation.item.input_audio_transcription.completed")},
          {QStringLiteral("item_id"), itemID},
          {QStringLiteral("content_index"), 0},
          {QStringLiteral("transcript"), text},
          {QStringLiteral("usage"), billed}});
}

void StrictRealtimeService::stream(const QString& text) {
    if (!m_active)
        return;
    send({{QStringLiteral("type"), QStringLiteral("response.output_text.delta")},
          {QStringLiteral("response_id"), m_active->id},
          {QStringLiteral("item_id"), m_active->itemID},
          {QStringLiteral("output_index"), 0},
          {QStringLiteral("content_index"), 0},
          {QStringLiteral("delta"), text}});
}

void StrictRealtimeService::finish(const QJsonObject& usage) {
    if (m_active && !m_active->cancelling)
        endResponse(QStringLiteral("completed"), usage);
}

void StrictRealtimeService::fail(const QString& code, const QString& message) {
    if (!m_active)
        return;
    endResponse(QStringLiteral("failed"), usageOf(0, 0, 0, 0, 0),
                {{QStringLiteral("type"), QStringLiteral("failed")},
                 {QStringLiteral("error"), QJsonObject{{QStringLiteral("type"), code},
                                                       {QStringLiteral("code"), code},
                                                       {QStringLiteral("message"), message}}}});
}

void StrictRealtimeService::endResponse(const QString& status, const QJsonObject& usage,
                                        const QJsonObject& details) {
    const Response response = *m_active;
    m_active.reset();
    QJsonObject done{{QStringLiteral("object"), QStringLiteral("realtime.response")},
                     {QStringLiteral("id"), response.id},
                     {QStringLiteral("status"), status},
                     {QStringLiteral("metadata"), response.metadata},
                     {QStringLiteral("output"),
                      QJsonArray{assistantItem(
                          response.itemID, status == u"completed" ? "completed" : "incomplete")}},
                     {QStringLiteral("usage"), usage}};
    if (status == u"cancelled")
        done.insert(QStringLiteral("status_details"),
                    QJsonObject{{QStringLiteral("type"), QStringLiteral("cancelled")},
                                {QStringLiteral("reason"), QStringLiteral("client_cancelled")}});
    if (!details.isEmpty())
        done.insert(QStringLiteral("status_details"), details);
    send({{QStringLiteral("type"), QStringLiteral("response.output_item.done")},
          {QStringLiteral("response_id"), response.id},
          {QStringLiteral("output_index"), 0},
          {QStringLiteral("item"), assistantItem(response.itemID, "completed")}});
    send({{QStringLiteral("type"), QStringLiteral("response.done")},
          {QStringLiteral("response"), done}});
}
