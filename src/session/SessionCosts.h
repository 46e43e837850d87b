#pragma once

#include "session/CostModel.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

// A session's bill: the usage of each answer and of each transcription, priced for the models
// the session runs with, and the event log's records of it. A cost that cannot be known leaves
// its dollar fields out of a record, and the log says why once a session: with the usage that
// first finds no price.
class SessionCosts {
public:
    using Record = std::function<void(const QString& event, const QJsonObject& fields)>;

    explicit SessionCosts(Record record) : m_record(std::move(record)) {}

    // A new session's models; what was counted goes.
    void begin(const QString& model, const QString& transcribeModel);
    // The service transcribes with another model than the one chosen.
    void useTranscriptionModel(const QString& model) { m_transcribeModel = model; }
    void reset() { m_usage = {}; }

    void addResponse(const QJsonObject& usage, double sessionSeconds);
    void addTranscription(const QJsonObject& usage);
    // The "session_cost" record, when anything was billed.
    void recordTotal(double sessionSeconds) const;

    const CostModel::Usage& usage() const { return m_usage; }
    std::optional<double> cost() const { return CostModel::cost(m_usage, m_model); }
    std::optional<QString> summary(double sessionSeconds) const {
        return CostModel::summary(m_usage, m_model, sessionSeconds);
    }

private:
    Record m_record;
    CostModel::Usage m_usage;
    QString m_model;
    QString m_transcribeModel;
};
