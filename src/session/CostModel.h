#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// Token accounting of the model's responses and their price in US dollars. A cost that cannot be
// known (a model without a price) is none rather than a guess.
namespace CostModel {

struct Usage {
    qint64 audioInput = 0;
    qint64 audioInputCached = 0;
    qint64 textInput = 0;
    qint64 textInputCached = 0;
    qint64 textOutput = 0;
    qint64 audioOutput = 0;
    qint64 imageInput = 0;
    qint64 imageInputCached = 0;
    // The transcription of the meeting's questions, billed apart from the responses and at
    // the transcription model's prices (already applied, as they depend on the model); none
    // once a transcription had no price.
    qint64 transcriptionAudioInput = 0;
    qint64 transcriptionTextInput = 0;
    qint64 transcriptionTextOutput = 0;
    double transcriptionSeconds = 0;
    std::optional<double> transcriptionCost = 0.0;

    void add(const Usage& other);
    qint64 total() const;
    // Nothing billed yet: no token and no second of transcription.
    bool isEmpty() const { return total() <= 0 && transcriptionSeconds <= 0; }
    friend bool operator==(const Usage&, const Usage&) = default;
};

// A response's `usage` object. A cached count the report leaves out of `cached_tokens_details`
// counts as audio first, up to the audio input, and the rest as text; one it gives, even 0, is
// taken as given. A count that is not a number, negative or beyond `maxCount` is taken as zero.
Usage parse(const QJsonObject& usage);
inline constexpr double maxCount = 1.0e9;
// A transcription's `usage` object (tokens, or seconds for duration-billed models), priced for
// `model`; a model without a price in the unit reported leaves the cost unknown.
Usage parseTranscription(const QJsonObject& usage, const QString& model);
// The responses of realtime `model` alone, then with the transcription: none when something
// billed has no known price. A custom id is priced as the longest known id it starts with.
std::optional<double> responseCost(const Usage& usage, const QString& model);
std::optional<double> cost(const Usage& usage, const QString& model);
// Why the event log finds no price for realtime `model`, or for transcription `model`.
QString noPriceReason(const QString& model);
QString noTranscriptionPriceReason(const QString& model);
// "$0.12" from a cent up, "$0.0040" below.
QString amount(double dollars);
// "$0.12 this session · $0.06/min · 1234 tokens" ("—" for each amount when the cost is
// unknown); nothing before any token or second counted.
std::optional<QString> summary(const Usage& usage, const QString& model, double sessionSeconds);
// Minutes for per-minute figures: never less than one second's worth.
double billedMinutes(double sessionSeconds);

} // namespace CostModel
