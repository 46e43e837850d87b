#include "app/demo/DemoScript.h"

#include <QRegularExpression>

namespace DemoScript {

const QList<Turn>& interview() {
    static const QList<Turn> turns{
        {.question = QStringLiteral("Thanks for joining us today. Could you start by telling me "
                                    "a little about yourself?"),
         .answer = QStringLiteral(
             "I'm a backend engineer with six years in payments. At Ledgerline I led the move "
             "from a nightly batch to streaming settlement, which cut reconciliation time from "
             "hours to minutes. I like owning a system end to end, from the design review to the "
             "on-call rota."),
         .askSeconds = 2.5,
         .replySeconds = 6.0,
         .myAnswer = QStringLiteral("Sure. I have spent the last six years on payment systems, "
                                    "most recently leading the streaming settlement work at "
                                    "Ledgerline."),
         .markWhenDone = QStringLiteral("my-answer")},
        {.question = QStringLiteral("What was the hardest performance problem you solved there?"),
         .answer = QStringLiteral(
             "Settlement lagged by up to forty minutes at month end. I profiled the pipeline and "
             "found one hot partition: every merchant without a region landed on the same key. "
             "Spreading them by merchant id and batching the ledger writes brought the lag under "
             "ten seconds, even at peak."),
         .markWhileStreaming = QStringLiteral("streaming")},
        // Lower case and soon after the last question: the session merges it into that card.
        {.question = QStringLiteral("and how did you measure that the fix worked?"),
         .answer = QStringLiteral(
             "We tracked the end-to-end lag per partition as a service level indicator, replayed "
             "the previous month end against a staging copy, and watched the p99 lag for two "
             "real month ends after the release. It stayed under ten seconds both times."),
         .askSeconds = 1.5,
         .markWhenDone = QStringLiteral("extended")},
        // Its words appear as they are heard, before the transcript completes.
        {.question = QStringLiteral("Tell me about a time you disagreed with your manager."),
         .answer = QStringLiteral(
             "My manager wanted to ship a retry storm fix behind a feature flag for all "
             "merchants at once. I proposed a one-percent canary first. We agreed on a staged "
             "rollout, and the canary caught a timeout setting that would have paged the whole "
             "team at night."),
         .askSeconds = 3.0,
         .markWhileHearing = QStringLiteral("hearing")},
        {.question = QStringLiteral("What would your first ninety days with us look like?"),
         .answer = QStringLiteral(
             "The first month I would learn the settlement flow by fixing small bugs and joining "
             "the on-call rota as a shadow. In the second I would pick one reliability gap with "
             "the team and own it. By the third I would like to have shipped that fix and "
             "written down what I learned."),
         .markWhenDone = QStringLiteral("cards")},
        // Asked while the reader has scrolled up: the new answer arrives below the fold.
        {.question = QStringLiteral("Why do you want to join our team?"),
         .answer = QStringLiteral(
             "Your platform handles money movement at a scale where correctness and latency both "
             "matter, which is the problem I enjoy most. I also like that your engineers own "
             "their services in production."),
         .markWhileStreaming = QStringLiteral("pill"),
         .markBeforeAsking = QStringLiteral("scroll-up")},
        // Typed by the candidate, then made shorter with one click.
        {.question = QStringLiteral("What notice period should I mention?"),
         .answer = QStringLiteral(
             "Say three months, which is what your contract asks, and add that you could agree "
             "an earlier start with your current manager once the offer is signed, since your "
             "handover is already planned."),
         .markBeforeAsking = QStringLiteral("follow"),
         .markWhenDone = QStringLiteral("typed"),
         .typed = true},
        {.question = {},
         .answer = QStringLiteral(
             "Three months by contract, and you can agree an earlier start with your manager once "
             "the offer is signed: your handover is planned."),
         .markWhenDone = QStringLiteral("rewritten"),
         .rewrite = QStringLiteral("shorter")},
        // The interviewer shares a coding problem; the candidate asks about the screen.
        {.question = {},
         .answer = QStringLiteral(
             "Sort by start, then walk once: extend the last merged interval while the next one "
             "starts before it ends, else start a new one. O(n log n) time for the sort, O(n) "
             "space.\n\ndef merge(intervals):\n    out = []\n    for s, e in sorted(intervals):\n"
             "        if out and s <= out[-1][1]:\n            out[-1][1] = max(out[-1][1], e)\n"
             "        else:\n            out.append([s, e])\n    return out"),
         .markWhenDone = QStringLiteral("screen"),
         .screen = true},
    };
    return turns;
}

double speedFactor() {
    bool ok = false;
    const double factor = qEnvironmentVariable("CORVINEL_DEMO_SPEED").toDouble(&ok);
    return ok && factor > 0 && factor <= 1000 ? factor : 1.0;
}

int fragmentDelayMs(int index) {
    return 30 + (index * 37) % 31;
}

QStringList fragments(const QString& answer) {
    QStringList out;
    static const QRegularExpression word(QStringLiteral("\\s*\\S+"));
    for (auto it = word.globalMatch(answer); it.hasNext();)
        out << it.next().captured();
    return out;
}

QByteArray appcast(const QString& version) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<rss version=\"2.0\" "
               "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
               "<channel><title>Corvinel</title><item>\n"
               "<title>Corvinel %1</title>\n"
               "<sparkle:version>%1</sparkle:version>\n"
               "<description><![CDATA[<ul>"
               "<li>Answers appear a moment sooner after the interviewer stops talking.</li>"
               "<li>The transcript keeps your place while an answer streams in.</li>"
               "<li>Recordings of long interviews transcribe faster.</li>"
               "</ul>]]></description>\n"
               "<pubDate>Mon, 07 Dec 2026 09:00:00 +0000</pubDate>\n"
               "<enclosure url=\"https://127.0.0.1:9/corvinel_%1_amd64.deb\" length=\"1048576\" "
               "type=\"application/vnd.debian.binary-package\" sparkle:os=\"linux\" "
               "sparkle:edSignature=\"c2FtcGxl\"/>\n"
               "</item></channel></rss>\n")
        .arg(version)
        .toUtf8();
}

} // namespace DemoScript
