#include "session/SessionReview.h"

#include "session/CostModel.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace SessionReview {
namespace {

Card& cardOf(Review& review, const QString& pair) {
    for (Card& card : review.cards)
        if (card.pair == pair)
            return card;
    review.cards.append(Card{pair, {}, {}, {}, {}, {}, {}, false});
    return review.cards.last();
}

std::optional<double> number(const QJsonObject& record, const char* key) {
    const QJsonValue value = record.value(QLatin1String(key));
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

QString escaped(const QString& text) {
    return text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>"));
}

QString seconds(double value) {
    return QString::number(value, 'f', value < 10 ? 1 : 0) + QStringLiteral(" s");
}

QString length(double value) {
    const auto whole = static_cast<long long>(value);
    return QString::asprintf("%lld min %02lld s", whole / 60, whole % 60);
}

// The session's start as people write it, from the file's stamp; a stamp of another shape
// (a name given by hand) as it is.
QString when(const QString& stamp) {
    const QDateTime start =
        QDateTime::fromString(stamp.left(19), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    return start.isValid()
               ? QLocale(QLocale::English).toString(start, QStringLiteral("d MMMM yyyy, HH:mm"))
               : stamp;
}

// Where the timeline and the level strip put a moment: both share one axis, as long as the
// longer of the log and the recording.
double axisSpan(const Review& review) {
    return std::max({review.lengthSeconds, review.levels ? review.levels->seconds : 0.0, 1.0});
}

constexpr double kAxisLeft = 20;
constexpr double kAxisWidth = 760;

// The session's moments along one line: questions, answers beginning, the user speaking.
QString timeline(const Review& review) {
    const double width = kAxisWidth;
    const double span = axisSpan(review);
    const auto x = [&](double t) { return QString::number(kAxisLeft + width * t / span, 'f', 1); };
    QString svg = QStringLiteral(
        "<svg class=\"timeline\" viewBox=\"0 0 800 70\" role=\"img\" aria-label=\"Timeline\">"
        "<line x1=\"20\" y1=\"35\" x2=\"780\" y2=\"35\" class=\"axis\"/>");
    for (const auto& [from, to] : review.spoke)
        svg += QStringLiteral("<rect x=\"%1\" y=\"40\" width=\"%2\" height=\"14\" class=\"you\"/>")
                   .arg(x(from))
                   .arg(std::max(1.0, width * (to - from) / span), 0, 'f', 1);
    for (double t : review.askedAt)
        svg += QStringLiteral("<rect x=\"%1\" y=\"14\" width=\"3\" height=\"18\" class=\"asked\"/>")
                   .arg(x(t));
    for (double t : review.answerStarts)
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"35\" r=\"4\" class=\"answer\"/>").arg(x(t));
    svg += QStringLiteral("<text x=\"20\" y=\"68\">0:00</text><text x=\"780\" y=\"68\" "
                          "text-anchor=\"end\">%1</text></svg>")
               .arg(length(span));
    return svg;
}

// The recording's two sides on the timeline's axis, the meeting above the line and the user
// below, each slice's height its level in decibels so that quiet speech still shows.
QString levelStrip(const Review& review) {
    const RecordingLevels::Levels& levels = *review.levels;
    const double half = 36;
    const double slice = kAxisWidth * levels.seconds / axisSpan(review) / levels.you.size();
    const auto height = [&](float rms) {
        constexpr double floorDb = -50;
        const double db = rms > 0 ? 20 * std::log10(rms) : floorDb;
        return half * std::clamp((db - floorDb) / -floorDb, 0.0, 1.0);
    };
    // One path per side: hundreds of bars stay a few kilobytes.
    const auto bars = [&](const QList<float>& side, int direction) {
        QString path;
        for (qsizetype i = 0; i < side.size(); ++i) {
            const double h = height(side[i]);
            if (h < 0.5)
                continue;
            path += QStringLiteral("M%1 %2v%3h%4v%5z")
                        .arg(kAxisLeft + slice * double(i), 0, 'f', 1)
                        .arg(half + 1, 0, 'f', 0)
                        .arg(direction * h, 0, 'f', 1)
                        .arg(std::max(0.8, slice * 0.75), 0, 'f', 1)
                        .arg(-direction * h, 0, 'f', 1);
        }
        return path;
    };
    return QStringLiteral(
               "<svg class=\"levels\" viewBox=\"0 0 800 74\" role=\"img\" "
               "aria-label=\"Sound levels: the meeting and you\"><path class=\"meeting\" "
               "d=\"%1\"/><path class=\"you\" d=\"%2\"/><line x1=\"20\" y1=\"37\" "
               "x2=\"780\" y2=\"37\" class=\"axis\"/></svg>")
        .arg(bars(levels.meeting, -1), bars(levels.you, 1));
}

// The user's time on each question, with the answer timer's 45 s mark.
QString answerBars(const Review& review) {
    QList<const Card*> answered;
    double longest = 60;
    for (const Card& card : review.cards)
        if (card.answerSeconds) {
            answered.append(&card);
            longest = std::max(longest, *card.answerSeconds);
        }
    if (answered.isEmpty())
        return QStringLiteral("<p class=\"quiet\">No answer of yours was timed.</p>");
    const double width = 560;
    const int height = 30 * int(answered.size()) + 24;
    QString svg = QStringLiteral("<svg class=\"bars\" viewBox=\"0 0 800 %1\" role=\"img\" "
                                 "aria-label=\"Your answer times\">")
                      .arg(height);
    for (qsizetype i = 0; i < answered.size(); ++i) {
        const double value = *answered[i]->answerSeconds;
        const int y = 8 + 30 * int(i);
        svg += QStringLiteral("<text x=\"0\" y=\"%1\">Q%2</text><rect x=\"40\" y=\"%3\" "
                              "width=\"%4\" height=\"20\" class=\"%5\"/><text x=\"%6\" "
                              "y=\"%1\">%7</text>")
                   .arg(y + 15)
                   .arg(i + 1)
                   .arg(y)
                   .arg(std::max(2.0, width * value / longest), 0, 'f', 1)
                   .arg(value > 45 ? QStringLiteral("long") : QStringLiteral("ok"))
                   .arg(48 + width * value / longest, 0, 'f', 1)
                   .arg(seconds(value));
    }
    const double mark = 40 + width * 45 / longest;
    svg += QStringLiteral("<line x1=\"%1\" y1=\"0\" x2=\"%1\" y2=\"%2\" class=\"mark\"/><text "
                          "x=\"%1\" y=\"%3\" text-anchor=\"middle\">45 s</text></svg>")
               .arg(mark, 0, 'f', 1)
               .arg(height - 14)
               .arg(height - 2);
    return svg;
}

const char* const kStyle =
    ":root{color-scheme:light dark;--bg:#fafafa;--fg:#1d1d1f;--quiet:#6e6e73;--card:#ececef;"
    "--accent:#2b6fd6;--you:#e08a1e;--meeting:#7b61d9;--good:#2e9e5b;--long:#d64545}"
    "@media (prefers-color-scheme:dark){:root{--bg:#1c1c1e;--fg:#f2f2f7;--quiet:#a1a1a6;"
    "--card:#2c2c2e;--accent:#5b9bff;--you:#f0a54a;--meeting:#a58cff;--good:#4cc27a;"
    "--long:#ff6b6b}}"
    "body{margin:2em auto;max-width:52em;padding:0 1em;background:var(--bg);color:var(--fg);"
    "font:15px/1.5 system-ui,sans-serif}h1{font-size:1.5em;margin:0}h2{font-size:1.1em;"
    "margin-top:2em}.quiet{color:var(--quiet)}svg{width:100%;height:auto}svg text{fill:var(--fg);"
    "font-size:12px}.axis{stroke:var(--quiet)}.asked{fill:var(--accent)}.answer{fill:var(--good)}"
    ".you{fill:var(--you)}.meeting{fill:var(--meeting)}.key{font-size:1.2em}"
    ".key.meeting{color:var(--meeting)}.key.you{color:var(--you)}.ok{fill:var(--good)}.long{fill:"
    "var(--long)}.mark{stroke:var(--fg);"
    "stroke-dasharray:4 3}table{border-collapse:collapse}td,th{padding:.2em .8em .2em 0;"
    "text-align:left}.card{background:var(--card);border-radius:8px;padding:.8em 1em;"
    "margin:1em 0;break-inside:avoid}.q{font-weight:600}.notice{color:var(--long)}"
    "@media print{body{margin:0}}";

} // namespace

std::optional<double> Review::medianAnswer() const {
    QList<double> times;
    for (const Card& card : cards)
        if (card.answerSeconds)
            times.append(*card.answerSeconds);
    if (times.isEmpty())
        return std::nullopt;
    std::sort(times.begin(), times.end());
    const qsizetype middle = times.size() / 2;
    return times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

std::optional<double> Review::longestAnswer() const {
    std::optional<double> longest;
    for (const Card& card : cards)
        if (card.answerSeconds && (!longest || *card.answerSeconds > *longest))
            longest = card.answerSeconds;
    return longest;
}

double Review::speakingShare() const {
    double spoken = 0;
    for (const auto& [from, to] : spoke)
        spoken += to - from;
    return lengthSeconds > 0 ? std::clamp(spoken / lengthSeconds, 0.0, 1.0) : 0.0;
}

std::optional<double> Review::costPerMinute() const {
    if (!cost)
        return std::nullopt;
    return *cost / CostModel::billedMinutes(lengthSeconds);
}

Review read(const QByteArray& eventLog, const QString& fileName) {
    Review review;
    const QString name = QFileInfo(fileName).fileName();
    review.stamp = name.section(u'.', 0, 0).remove(QStringLiteral("meeting_"));
    review.cutShort = true;
    std::optional<double> pendingCost;
    std::optional<double> runningCost;
    const QList<QByteArray> lines = eventLog.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i]);
        if (!document.isObject()) {
            review.brokenLine = int(i + 1);
            break;
        }
        const QJsonObject record = document.object();
        const QString event = record.value(QStringLiteral("event")).toString();
        const double t = number(record, "t").value_or(0);
        const QString pair = record.value(QStringLiteral("pair")).toString();
        review.lengthSeconds = std::max(review.lengthSeconds, t);
        if (event == u"config") {
            review.model = record.value(QStringLiteral("model")).toString();
        } else if (event == u"question") {
            cardOf(review, pair).question = record.value(QStringLiteral("text")).toString();
            review.askedAt.append(t);
        } else if (event == u"question_extended") {
            ++review.followUps;
            Card& card = cardOf(review, pair);
            card.question = record.value(QStringLiteral("merged")).toString();
            card.extended = true;
        } else if (event == u"answer_started") {
            cardOf(review, pair).latency = number(record, "latency_after_question_s");
            review.answerStarts.append(t);
        } else if (event == u"usage") {
            pendingCost = number(record, "response_cost_usd");
            runningCost = number(record, "session_cost_usd").value_or(runningCost.value_or(0));
        } else if (event == u"transcription_usage") {
            if (const auto total = number(record, "session_cost_usd"))
                runningCost = total;
        } else if (event == u"answer_done") {
            Card& card = cardOf(review, pair);
            card.question = record.value(QStringLiteral("question")).toString(card.question);
            card.answer = record.value(QStringLiteral("answer")).toString();
            // The service reports an answer's usage just before its end.
            card.cost = std::exchange(pendingCost, std::nullopt);
        } else if (event == u"you_stopped") {
            const double spoken = number(record, "seconds").value_or(0);
            if (!pair.isEmpty()) {
                Card& card = cardOf(review, pair);
                card.answerSeconds = card.answerSeconds.value_or(0) + spoken;
                card.myAnswer = record.value(QStringLiteral("text")).toString();
            }
            review.spoke.append({std::max(0.0, t - spoken), t});
        } else if (event == u"answer_failed") {
            review.failures.append({record.value(QStringLiteral("reason")).toString(),
                                    record.value(QStringLiteral("message")).toString()});
        } else if (event == u"session_cost") {
            runningCost = number(record, "cost_usd");
        } else if (event == u"session_ended") {
            review.cutShort = false;
        }
    }
    review.cost = runningCost;
    // Cards that never held a question or an answer are the log's bookkeeping, not questions.
    review.cards.removeIf([](const Card& card) {
        return card.question.isEmpty() && card.answer.isEmpty() && card.myAnswer.isEmpty();
    });
    return review;
}

QString html(const Review& r) {
    QStringList page{QStringLiteral("<!DOCTYPE html><html lang=\"en\"><head><meta "
                                    "charset=\"utf-8\"><meta name=\"viewport\" "
                                    "content=\"width=device-width\"><title>Session review — ") +
                     escaped(when(r.stamp)) + QStringLiteral("</title><style>") +
                     QLatin1String(kStyle) + QStringLiteral("</style></head><body>")};
    page << QStringLiteral("<h1>Session review — %1</h1>").arg(escaped(when(r.stamp)));
    QString facts = length(r.lengthSeconds) +
                    (r.cards.size() == 1 ? QStringLiteral(" · 1 question")
                                         : QStringLiteral(" · %1 questions").arg(r.cards.size()));
    if (!r.model.isEmpty())
        facts += QStringLiteral(" · ") + escaped(r.model);
    facts += QStringLiteral(" · ") +
             (r.cost ? CostModel::amount(*r.cost) + QStringLiteral(" (") +
                           CostModel::amount(*r.costPerMinute()) + QStringLiteral("/min)")
                     : QStringLiteral("cost unknown"));
    page << QStringLiteral("<p class=\"quiet\">") + facts + QStringLiteral("</p>");
    if (r.cutShort)
        page << QStringLiteral("<p class=\"notice\">This session was cut short: its log ends "
                               "without the app closing it.</p>");
    if (r.brokenLine)
        page << QStringLiteral("<p class=\"notice\">The log is read up to line %1, which could "
                               "not be read.</p>")
                    .arg(*r.brokenLine);

    QString legend = QStringLiteral("Blue: a question. Green: its answer begins. Orange: you "
                                    "speak.");
    if (r.levels)
        legend += QStringLiteral(" Below, the recording: <span class=\"key meeting\">■</span> "
                                 "the meeting above the line, <span class=\"key you\">■</span> "
                                 "you under it.");
    page << QStringLiteral("<h2>Timeline</h2>") + timeline(r) +
                (r.levels ? levelStrip(r) : QString()) + QStringLiteral("<p class=\"quiet\">") +
                legend + QStringLiteral("</p>");
    page << QStringLiteral("<h2>Your answers</h2>") + answerBars(r);

    QStringList figures;
    if (const auto median = r.medianAnswer())
        figures
            << QStringLiteral("<tr><th>Median answer</th><td>%1</td></tr>").arg(seconds(*median));
    if (const auto longest = r.longestAnswer())
        figures
            << QStringLiteral("<tr><th>Longest answer</th><td>%1</td></tr>").arg(seconds(*longest));
    figures << QStringLiteral("<tr><th>You spoke</th><td>%1 % of the session</td></tr>")
                   .arg(std::lround(r.speakingShare() * 100));
    figures << QStringLiteral("<tr><th>Follow-ups merged</th><td>%1</td></tr>").arg(r.followUps);
    QStringList why;
    for (const Failure& failure : r.failures)
        why << escaped(failure.message.isEmpty() ? failure.reason : failure.message);
    figures << QStringLiteral("<tr><th>Answers that failed</th><td>%1%2</td></tr>")
                   .arg(r.failures.size())
                   .arg(why.isEmpty() ? QString()
                                      : QStringLiteral(": ") + why.join(QStringLiteral("; ")));
    page << QStringLiteral("<h2>Figures</h2><table>") + figures.join(QString()) +
                QStringLiteral("</table>");

    page << QStringLiteral("<h2>Questions</h2>");
    for (const Card& card : r.cards) {
        QStringList meta;
        if (card.answerSeconds)
            meta << QStringLiteral("you: ") + seconds(*card.answerSeconds);
        if (card.latency)
            meta << QStringLiteral("answer after ") + seconds(*card.latency);
        if (card.cost)
            meta << CostModel::amount(*card.cost);
        page << QStringLiteral("<div class=\"card\"><p class=\"q\">%1%2</p><p>%3</p>")
                    .arg(escaped(card.question.isEmpty() ? QStringLiteral("—") : card.question),
                         card.extended ? QStringLiteral(" <span class=\"quiet\">(extended)</span>")
                                       : QString(),
                         escaped(card.answer.isEmpty() ? QStringLiteral("—") : card.answer));
        if (!card.myAnswer.isEmpty())
            page << QStringLiteral("<p><b>My answer:</b> ") + escaped(card.myAnswer) +
                        QStringLiteral("</p>");
        if (!meta.isEmpty())
            page << QStringLiteral("<p class=\"quiet\">") + meta.join(QStringLiteral(" · ")) +
                        QStringLiteral("</p>");
        page << QStringLiteral("</div>");
    }
    page << QStringLiteral("</body></html>\n");
    return page.join(u'\n');
}

Written writePage(const QString& eventLogPath, Recording recording) {
    const QFileInfo info(eventLogPath);
    if (!info.exists())
        return {{}, QStringLiteral("no such file")};
    if (info.isDir())
        return {{}, QStringLiteral("a folder, not a session's event log")};
    QFile file(eventLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, file.errorString()};
    const QByteArray log = file.readAll();
    if (log.trimmed().isEmpty())
        return {{}, QStringLiteral("empty: no session to review")};
    const QString page = pagePath(eventLogPath);
    QSaveFile out(page);
    Review review = read(log, eventLogPath);
    if (recording == Recording::read)
        review.levels = RecordingLevels::read(recordingPath(eventLogPath), levelSlices);
    const QByteArray bytes = html(review).toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return {{}, page + QStringLiteral(": ") + out.errorString()};
    return {page, {}};
}

namespace {
QString besideLog(const QString& eventLogPath, const QString& suffix) {
    QString path = eventLogPath;
    if (path.endsWith(QStringLiteral(".events.jsonl")))
        path.chop(int(qstrlen(".events.jsonl")));
    return path + suffix;
}
} // namespace

QString pagePath(const QString& eventLogPath) {
    return besideLog(eventLogPath, QStringLiteral(".review.html"));
}

QString recordingPath(const QString& eventLogPath) {
    return besideLog(eventLogPath, QStringLiteral(".wav"));
}

} // namespace SessionReview
