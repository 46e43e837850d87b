#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <optional>

class FakeRealtimeServer;

// The Realtime service's own rules played on a FakeRealtimeServer, as its documentation gives
// them: one response at a time (a response.create while one runs is refused with
// conversation_already_has_active_response), no automatic answer for a turn committed while a
// response runs, cancels that land a moment later (cancelling nothing is an error), output items
// placed after the item they follow, transcription deltas before the completed transcript,
// usage with explicit zeros and transcription billed by duration, metadata echoed and an
// event_id on every event. The test plays the other side of the call (commitTurn, transcribe)
// and the model's pace (stream, finish); everything else answers itself.
class StrictRealtimeService : public QObject {
    Q_OBJECT
public:
    explicit StrictRealtimeService(FakeRealtimeServer& server);

    // session.update naming this transcription model is refused with invalid_value, naming
    // `supported` as the models it takes.
    void refuseTranscriptionModel(const QString& model, const QStringList& supported);

    // The other side stopped talking: the turn is committed and, when no response runs,
    // answered by the service itself. Returns the audio item's id.
    QString commitTurn();
    // The turn's transcription: its words as deltas, then the completed transcript with its
    // usage (seconds of audio for duration-billed models).
    void transcribe(const QString& itemID, const QString& text, double seconds = 2.0);
    // Only the deltas: a transcription that has not completed (yet).
    void hear(const QString& itemID, const QString& text);
    // Text of the response now being written.
    void stream(const QString& text);
    // Ends the response now being written, completed, with this usage.
    void finish(const QJsonObject& usage = usageOf(1000, 0, 200, 0, 40));
    // Ends it failed, with the service's code and words.
    void fail(const QString& code, const QString& message);
    // A service that takes the connection but never answers its setup.
    bool answersSetup = true;

    bool isResponding() const { return m_active.has_value(); }
    QString activeResponse() const;
    // What the client asked the response now being written to carry.
    QJsonObject activeMetadata() const;
    // The metadata of every response created so far, oldest first (null for the service's own).
    QList<QJsonObject> createdMetadata() const { return m_createdMetadata; }
    QStringList createdIDs() const { return m_createdIDs; }
    // The codes of the errors sent, oldest first.
    QStringList errorCodes() const { return m_errorCodes; }
    QString transcriptionModel() const { return m_transcriptionModel; }

    // A usage report as the service words it, with every detail present (zeros included).
    static QJsonObject usageOf(int textIn, int textCached, int audioIn, int audioCached,
                               int textOut);

    int cancelLatencyMs = 30;

private:
    struct Response {
        QString id;
        QString itemID;
        QJsonValue metadata;
        bool inConversation = true;
        bool cancelling = false;
    };
    void onFrame(const QJsonObject& frame);
    void onSessionUpdate(const QJsonObject& frame);
    void onResponseCreate(const QJsonObject& frame);
    void onResponseCancel(const QJsonObject& frame);
    void onItemCreate(const QJsonObject& frame);
    void createResponse(const QJsonValue& metadata, bool inConversation);
    void endResponse(const QString& status, const QJsonObject& usage,
                     const QJsonObject& details = QJsonObject());
    void refuse(const QJsonObject& frame, const QString& code, const QString& message,
                const QString& param = QString());
    void send(QJsonObject event);
    void reset();
    QString newID(const char* prefix);

    FakeRealtimeServer& m_server;
    QString m_refusedModel;
    QStringList m_supportedModels;
    QString m_transcriptionModel;
    QStringList m_items; // the conversation, in order
    std::optional<Response> m_active;
    QList<QJsonObject> m_createdMetadata;
    QStringList m_createdIDs;
    QStringList m_errorCodes;
    int m_serial = 0;
};
