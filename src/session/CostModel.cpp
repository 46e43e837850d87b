#include "session/CostModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

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

// US dollars per million tokens of each realtime model, from the service's model pages
// (2026-12-07). A price not published stays missing: gpt-realtime-1.5 has none for images.
struct Price {
    const char* model; // the name, or the start of a custom or dated id
    std::optional<double> textInput, textInputCached, textOutput;
    std::optional<double> audioInput, audioInputCached, audioOutput;
    std::optional<double> imageInput, imageInputCached;
};
constexpr Price kPrices[] = {
    {"gpt-realtime-2.1", 4.0, 0.40, 24.0, 32.0, 0.40, 64.0, 5.0, 0.50},
    {"gpt-realtime-2.1-mini", 0.60, 0.06, 2.40, 10.0, 0.30, 20.0, 0.80, 0.08},
    {"gpt-realtime-2", 4.0, 0.40, 24.0, 32.0, 0.40, 64.0, 5.0, 0.50},
    {"gpt-realtime-1.5", 4.0, 0.40, 16.0, 32.0, 0.40, 64.0, std::nullopt, std::nullopt},
};

// The transcription models, billed either by the minute of audio (US dollars a minute) or by
// the token (per million), as the service's pages and OpenAI's API pricing give them.
struct TranscriptionPrice {
    const char* model;
    std::optional<double> perMinute;
    std::optional<double> audioInput, textInput, textOutput;
};
constexpr TranscriptionPrice kTranscriptionPrices[] = {
    {"gpt-live-transcribe", 0.017, std::nullopt, std::nullopt, std::nullopt},
    {"gpt-realtime-whisper", 0.017, std::nullopt, std::nullopt, std::nullopt},
    {"gpt-transcribe", 0.0045, std::nullopt, std::nullopt, std::nullopt},
    {"gpt-4o-transcribe", std::nullopt, 6.0, 2.5, 10.0},
    {"gpt-4o-mini-transcribe", std::nullopt, 3.0, 1.25, 5.0},
    {"whisper-1", 0.006, std::nullopt, std::nullopt, std::nullopt},
};

// The longest known id `model` starts with, as a whole name or followed by a suffix after "-":
// "gpt-realtime-2.1-mini-…" is the mini, not 2.1, and "gpt-realtime-2.5" is no known model.
template <typename Row, std::size_t N>
const Row* priceOf(const Row (&table)[N], const QString& model) {
    const Row* found = nullptr;
    for (const Row& row : table) {
        const auto length = qsizetype(std::strlen(row.model));
        if (model.startsWith(QLatin1String(row.model)) &&
            (model.size() == length || model[length] == u'-') &&
            (!found || length > qsizetype(std::strlen(found->model))))
            found = &row;
    }
    return found;
}

// Millionths of a dollar for `tokens` at a price per million: no tokens cost nothing even
// without a price, some tokens without one have no known cost.
std::optional<double> priced(qint64 tokens, std::optional<double> perMillion) {
    if (tokens == 0)
        return 0.0;
    if (!perMillion)
        return std::nullopt;
    return double(tokens) * *perMillion;
}

std::optional<double> sum(std::initializer_list<std::optional<double>> parts) {
    double total = 0;
    for (const std::optional<double>& part : parts) {
        if (!part)
            return std::nullopt;
        total += *part;
    }
    return total;
}
} // namespace

void Usage::add(const Usage& other) {
    audioInput += other.audioInput;
    audioInputCached += other.audioInputCached;
    textInput += other.textInput;
    textInputCached += other.textInputCached;
    textOutput += other.textOutput;
    audioOutput += other.audioOutput;
    imageInput += other.imageInput;
    imageInputCached += other.imageInputCached;
    transcriptionAudioInput += other.transcriptionAudioInput;
    transcriptionTextInput += other.transcriptionTextInput;
    transcriptionTextOutput += other.transcriptionTextOutput;
    transcriptionSeconds += other.transcriptionSeconds;
    transcriptionCost = sum({transcriptionCost, other.transcriptionCost});
}

qint64 Usage::total() const {
    return audioInput + audioInputCached + textInput + textInputCached + textOutput + audioOutput +
           imageInput + imageInputCached + transcriptionAudioInput + transcriptionTextInput +
           transcriptionTextOutput;
}

Usage parse(const QJsonObject& usage) {
    // value() of a missing key or a non-object gives an empty object, as wanted here.
    const QJsonObject in = usage.value(QStringLiteral("input_token_details")).toObject();
    const QJsonObject out = usage.value(QStringLiteral("output_token_details")).toObject();
    const QJsonObject cached = in.value(QStringLiteral("cached_tokens_details")).toObject();

    qint64 cachedAudio = count(cached, "audio_tokens");
    qint64 cachedText = count(cached, "text_tokens");
    const qint64 cachedImage = count(cached, "image_tokens");
    const qint64 cachedTotal = count(in, "cached_tokens");
    const qint64 inAudio = count(in, "audio_tokens");
    const qint64 inText = count(in, "text_tokens");
    const qint64 inImage = count(in, "image_tokens");
    // Only a share the report leaves out is inferred from the cached total; a 0 it gives is 0.
    if (!cached.contains(QLatin1String("audio_tokens")))
        cachedAudio = std::min(cachedTotal, inAudio);
    if (!cached.contains(QLatin1String("text_tokens")))
        cachedText = std::max<qint64>(0, cachedTotal - cachedAudio - cachedImage);

    Usage u;
    u.audioInput = std::max<qint64>(0, inAudio - cachedAudio);
    u.audioInputCached = cachedAudio;
    u.textInput = std::max<qint64>(0, inText - cachedText);
    u.textInputCached = cachedText;
    u.imageInput = std::max<qint64>(0, inImage - cachedImage);
    u.imageInputCached = cachedImage;
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
    constexpr TranscriptionPrice unpriced{};
    const TranscriptionPrice* found = priceOf(kTranscriptionPrices, model);
    const TranscriptionPrice& price = found ? *found : unpriced;
    if (usage.value(QStringLiteral("type")).toString() == QLatin1String("duration")) {
        u.transcriptionSeconds = quantity(usage, "seconds");
        if (u.transcriptionSeconds == 0)
            u.transcriptionCost = 0.0;
        else if (price.perMinute)
            u.transcriptionCost = *price.perMinute * u.transcriptionSeconds / 60.0;
        else
            u.transcriptionCost = std::nullopt;
        return u;
    }
    const QJsonObject in = usage.value(QStringLiteral("input_token_details")).toObject();
    u.transcriptionAudioInput = count(in, "audio_tokens");
    u.transcriptionTextInput = count(in, "text_tokens");
    if (u.transcriptionAudioInput == 0 && u.transcriptionTextInput == 0)
        u.transcriptionAudioInput = count(usage, "input_tokens"); // the input is the audio
    u.transcriptionTextOutput = count(usage, "output_tokens");
    const std::optional<double> millionths =
        sum({priced(u.transcriptionAudioInput, price.audioInput),
             priced(u.transcriptionTextInput, price.textInput),
             priced(u.transcriptionTextOutput, price.textOutput)});
    u.transcriptionCost = millionths ? std::optional(*millionths / 1000000.0) : std::nullopt;
    return u;
}

std::optional<double> responseCost(const Usage& u, const QString& model) {
    constexpr Price unpriced{};
    const Price* found = priceOf(kPrices, model);
    const Price& price = found ? *found : unpriced;
    const std::optional<double> millionths = sum({
        priced(u.textInput, price.textInput),
        priced(u.textInputCached, price.textInputCached),
        priced(u.textOutput, price.textOutput),
        priced(u.audioInput, price.audioInput),
        priced(u.audioInputCached, price.audioInputCached),
        priced(u.audioOutput, price.audioOutput),
        priced(u.imageInput, price.imageInput),
        priced(u.imageInputCached, price.imageInputCached),
    });
    if (!millionths)
        return std::nullopt;
    return *millionths / 1000000.0;
}

std::optional<double> cost(const Usage& usage, const QString& model) {
    return sum({responseCost(usage, model), usage.transcriptionCost});
}

QString noPriceReason(const QString& model) {
    return priceOf(kPrices, model) ? QStringLiteral("no price is known for this model's images")
                                   : QStringLiteral("no price is known for this model");
}

QString noTranscriptionPriceReason(const QString& model) {
    const TranscriptionPrice* price = priceOf(kTranscriptionPrices, model);
    if (!price)
        return QStringLiteral("no price is known for this model");
    return price->perMinute
               ? QStringLiteral("this model is billed by the minute, not by the token")
               : QStringLiteral("this model is billed by the token, not by the minute");
}

QString amount(double dollars) {
    return dollars >= 0.01 ? QString::asprintf("$%.2f", dollars)
                           : QString::asprintf("$%.4f", dollars);
}

double billedMinutes(double sessionSeconds) {
    return std::max(sessionSeconds / 60.0, 1.0 / 60.0);
}

std::optional<QString> summary(const Usage& usage, const QString& model, double sessionSeconds) {
    if (usage.isEmpty() || sessionSeconds <= 0)
        return std::nullopt;
    const std::optional<double> dollars = cost(usage, model);
    const QString unknown = QStringLiteral("—");
    return (dollars ? amount(*dollars) : unknown) + QStringLiteral(" this session · ") +
           (dollars ? amount(*dollars / billedMinutes(sessionSeconds)) : unknown) +
           QStringLiteral("/min · ") + QString::number(usage.total()) + QStringLiteral(" tokens");
}

} // namespace CostModel
