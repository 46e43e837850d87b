#include "session/SessionCosts.h"

#include "session/QAFlow.h"

namespace {
// The counters every record of usage carries.
QJsonObject counters(const CostModel::Usage& u) {
    return {{QStringLiteral("audio_in"), u.audioInput},
            {QStringLiteral("audio_in_cached"), u.audioInputCached},
            {QStringLiteral("text_in"), u.textInput},
            {QStringLiteral("text_in_cached"), u.textInputCached},
            {QStringLiteral("text_out"), u.textOutput},
            {QStringLiteral("audio_out"), u.audioOutput},
            {QStringLiteral("image_in"), u.imageInput},
            {QStringLiteral("image_in_cached"), u.imageInputCached}};
}
} // namespace

void SessionCosts::begin(const QString& model, const QString& transcribeModel) {
    m_usage = {};
    m_model = model;
    m_transcribeModel = transcribeModel;
}

void SessionCosts::addResponse(const QJsonObject& usage, double sessionSeconds) {
    const CostModel::Usage u = CostModel::parse(usage);
    const bool pricedSoFar = CostModel::responseCost(m_usage, m_model).has_value();
    m_usage.add(u);
    const std::optional<double> responseCost = CostModel::responseCost(u, m_model);
    if (pricedSoFar && !responseCost)
        m_record(QStringLiteral("price_unknown"),
                 {{QStringLiteral("model"), m_model},
                  {QStringLiteral("reason"), CostModel::noPriceReason(m_model)}});
    QJsonObject fields = counters(u);
    if (responseCost)
        fields.insert(QStringLiteral("response_cost_usd"), roundTo(*responseCost, 5));
    if (const std::optional<double> sessionCost = cost()) {
        const double minutes = CostModel::billedMinutes(sessionSeconds);
        fields.insert(QStringLiteral("session_cost_usd"), roundTo(*sessionCost, 5));
        fields.insert(QStringLiteral("session_cost_per_min_usd"),
                      roundTo(*sessionCost / minutes, 4));
    }
    m_record(QStringLiteral("usage"), fields);
}

void SessionCosts::addTranscription(const QJsonObject& usage) {
    const CostModel::Usage u = CostModel::parseTranscription(usage, m_transcribeModel);
    const bool pricedSoFar = m_usage.transcriptionCost.has_value();
    m_usage.add(u);
    if (pricedSoFar && !u.transcriptionCost)
        m_record(
            QStringLiteral("price_unknown"),
            {{QStringLiteral("model"), m_transcribeModel},
             {QStringLiteral("reason"), CostModel::noTranscriptionPriceReason(m_transcribeModel)}});
    QJsonObject fields{{QStringLiteral("model"), m_transcribeModel},
                       {QStringLiteral("audio_in"), u.transcriptionAudioInput},
                       {QStringLiteral("text_in"), u.transcriptionTextInput},
                       {QStringLiteral("text_out"), u.transcriptionTextOutput},
                       {QStringLiteral("seconds"), roundTo(u.transcriptionSeconds, 2)}};
    if (u.transcriptionCost)
        fields.insert(QStringLiteral("cost_usd"), roundTo(*u.transcriptionCost, 5));
    if (const std::optional<double> sessionCost = cost())
        fields.insert(QStringLiteral("session_cost_usd"), roundTo(*sessionCost, 5));
    m_record(QStringLiteral("transcription_usage"), fields);
}

void SessionCosts::recordTotal(double sessionSeconds) const {
    if (m_usage.isEmpty())
        return;
    const double minutes = CostModel::billedMinutes(sessionSeconds);
    QJsonObject fields = counters(m_usage);
    fields.insert(QStringLiteral("minutes"), roundTo(minutes, 2));
    fields.insert(QStringLiteral("tokens"), m_usage.total());
    if (const std::optional<double> dollars = cost()) {
        fields.insert(QStringLiteral("cost_usd"), roundTo(*dollars, 5));
        fields.insert(QStringLiteral("cost_per_min_usd"), roundTo(*dollars / minutes, 4));
    }
    m_record(QStringLiteral("session_cost"), fields);
}
