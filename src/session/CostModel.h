#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// Token accounting of the model's responses and their price in US dollars.
namespace CostModel {

struct Usage {
    qint64 audioInput = 0;
    qint64 audioInputCached = 0;
    qint64 textInput = 0;
    qint64 textInputCached = 0;
    qint64 textOutput = 0;
    qint64 audioOutput = 0;
    // The transcription of the meeting's questions, billed apart from the responses and at
    // the transcription model's prices (already applied, as they depend on the model).
    qint64 transcriptionAudioInput = 0;
    qint64 transcriptionTextInput = 0;
    qint64 transcriptionTextOutput = 0;
    double transcriptionSeconds = 0;
    double transcriptionCost = 0;

    void add(const Usage& other);
    qint64 total() const;
    // Nothing billed yet: no token and no second of transcription.
    bool isEmpty() const { return total() <= 0 && transcriptionSeconds <= 0; }
    friend bool operator==(const Usage&, const Usage&) = default;
};

// A response's `usage` object. Cached tokens count as audio first, up to the audio input.
// A count that is not a number, negative or beyond `maxCount` is taken as zero.
Usage parse(const QJsonObject& usage);
inline constexpr double maxCount = 1.0e9;
// A transcription's `usage` object (tokens, or seconds for duration-billed models), priced for
// `model`; a model without a known price is counted at no cost.
Usage parseTranscription(const QJsonObject& usage, const QString& model);
double cost(const Usage& usage);
// "$0.12" from a cent up, "$0.0040" below.
QString amount(double dollars);
// "$0.12 this session · $0.06/min · 1234 tokens"; nothing before any token or second counted.
std::optional<QString> summary(const Usage& usage, double sessionSeconds);
// Minutes for per-minute figures: never less than one second's worth.
double billedMinutes(double sessionSeconds);

} // namespace CostModel
