#include "session/CostModel.h"

#include <algorithm>
#include <cmath>

namespace CostModel {
namespace {
// A count the service could not mean (negative, not a number, beyond any session) would make
// the cost negative or overflow the totals: it is taken as zero.
double quantity(const QJsonObject& map, const char* key) {
    const QJsonValue value = map.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > maxCount)
        return 0;
    return number;
}

qint64 count(const QJsonObject& map, const char* key) {
    return qint64(std::trunc(quantity(map, key)));
}

// US dollars per million tokens, or per minute for duration-billed models, from OpenAI's
// published API pricing (platform.openai.com/docs/pricing) for the transcription models.
struct TranscriptionPrice {
    const char* model; // the name, or the start of a dated snapshot's name
    double audioInput;
    double textInput;
    double textOutput;
    double perMinute;
};
constexpr TranscriptionPrice kTranscriptionPrices[] = {
    {"gpt-4o-transcribe", 6.0, 2.5, 10.0, 0},
    {"gpt-4o-mini-transcribe", 3.0, 1.25, 5.0, 0},
    {"whisper-1", 0, 0, 0, 0.006},
};

const TranscriptionPrice* transcriptionPrice(const QString& model) {
    for (const TranscriptionPrice& price : kTranscriptionPrices)
        if (model.startsWith(QLatin1String(price.model)))
            return &price;
    return nullptr;
}
} // namespace

void Usage::add(const Usage& other) {
    audioInput += other.audioInput;
    audioInputCached += other.audioInputCached;
    textInput += other.textInput;
    textInputCached += other.textInputCached;
    textOutput += other.textOutput;
    audioOutput += other.audioOutput;
    transcriptionAudioInput += other.transcriptionAudioInput;
    transcriptionTextInput += other.transcriptionTextInput;
    transcriptionTextOutput += other.transcriptionTextOutput;
    transcriptionSeconds += other.transcriptionSeconds;
    transcriptionCost += other.transcriptionCost;
}

qint64 Usage::total() const {
    return audioInput + audioInputCached + textInput + textInputCached + textOutput + audioOutput +
           transcriptionAudioInput + transcriptionTextInput + transcriptionTextOutput;
}

Usage parse(const QJsonObject& usage) {
    // value() of a missing key or a non-object gives an empty object, as wanted here.
    const QJsonObject in = usage.value(QStringLiteral("input_token_details")).toObject();
    const QJsonObject out = usage.value(QStringLiteral("output_token_details")).toObject();
    const QJsonObject cached = in.value(QStringLiteral("cached_tokens_details")).toObject();

    qint64 cachedAudio = count(cached, "audio_tokens");
    qint64 cachedText = count(cached, "text_tokens");
    const qint64 cachedTotal = count(in, "cached_tokens");
    const qint64 inAudio = count(in, "audio_tokens");
    const qint64 inText = count(in, "text_tokens");
    if (cachedAudio < 1)
        cachedAudio = std::min(cachedTotal, inAudio);
    if (cachedText < 1)
        cachedText = std::max<qint64>(0, cachedTotal - cachedAudio);

    Usage u;
    u.audioInput = std::max<qint64>(0, inAudio - cachedAudio);
    u.audioInputCached = cachedAudio;
    u.textInput = std::max<qint64>(0, inText - cachedText);
    u.textInputCached = cachedText;
    u.textOutput = count(out, "text_tokens");
    u.audioOutput = count(out, "audio_tokens");
    if (u == Usage{}) {
        u.textInput = count(usage, "input_tokens");
        u.textOutput = count(usage, "output_tokens");
    }
    return u;
}

Usage parseTranscription(const QJsonObject& usage, const QString& model) {
    Usage u;
    const TranscriptionPrice* price = transcriptionPrice(model);
    if (usage.value(QStringLiteral("type")).toString() == QLatin1String("duration")) {
        u.transcriptionSeconds = quantity(usage, "seconds");
        if (price)
            u.transcriptionCost = price->perMinute * u.transcriptionSeconds / 60.0;
        return u;
    }
    const QJsonObject in = usage.value(QStringLiteral("input_token_details")).toObject();
    u.transcriptionAudioInput = count(in, "audio_tokens");
    u.transcriptionTextInput = count(in, "text_tokens");
    if (u.transcriptionAudioInput == 0 && u.transcriptionTextInput == 0)
        u.transcriptionAudioInput = count(usage, "input_tokens"); // the input is the audio
    u.transcriptionTextOutput = count(usage, "output_tokens");
    if (price)
        u.transcriptionCost = (price->audioInput * double(u.transcriptionAudioInput) +
                               price->textInput * double(u.transcriptionTextInput) +
                               price->textOutput * double(u.transcriptionTextOutput)) /
                              1000000.0;
    return u;
}

double cost(const Usage& u) {
    return (32.0 * double(u.audioInput) + 0.4 * double(u.audioInputCached) +
            4.0 * double(u.textInput) + 0.4 * double(u.textInputCached) +
            16.0 * double(u.textOutput + u.audioOutput)) /
               1000000.0 +
           u.transcriptionCost;
}

QString amount(double dollars) {
    return dollars >= 0.01 ? QString::asprintf("$%.2f", dollars)
                           : QString::asprintf("$%.4f", dollars);
}

double billedMinutes(double sessionSeconds) {
    return std::max(sessionSeconds / 60.0, 1.0 / 60.0);
}

std::optional<QString> summary(const Usage& usage, double sessionSeconds) {
    const qint64 total = usage.total();
    if (usage.isEmpty() || sessionSeconds <= 0)
        return std::nullopt;
    const double dollars = cost(usage);
    const double perMinute = dollars / billedMinutes(sessionSeconds);
    return amount(dollars) + QStringLiteral(" this session · ") + amount(perMinute) +
           QStringLiteral("/min · ") + QString::number(total) + QStringLiteral(" tokens");
}

} // namespace CostModel
