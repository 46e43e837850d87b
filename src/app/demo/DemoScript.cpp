#include "app/demo/DemoScript.h"

#include <QRegularExpression>

namespace DemoScript {

const QList<Turn>& interview() {
    static const QList<Turn> turns{
        {QStringLiteral("Thanks for joining us today. Could you start by telling me a little "
                        "about yourself?"),
         QStringLiteral("I'm a backend engineer with six years in payments. At Ledgerline I led "
                        "the move from a nightly batch to streaming settlement, which cut "
                        "reconciliation time from hours to minutes. I like owning a system end "
                        "to end, from the design review to the on-call rota."),
         2.5,
         6.0,
         QStringLiteral("Sure. I have spent the last six years on payment systems, most "
                        "recently leading the streaming settlement work at Ledgerline."),
         {},
         {},
         QStringLiteral("my-answer")},
        {QStringLiteral("What was the hardest performance problem you solved there?"),
         QStringLiteral("Settlement lagged by up to forty minutes at month end. I profiled the "
                        "pipeline and found one hot partition: every merchant without a region "
                        "landed on the same key. Spreading them by merchant id and batching the "
                        "ledger writes brought the lag under ten seconds, even at peak."),
         2.0,
         0,
         {},
         QStringLiteral("streaming"),
         {},
         {}},
        {QStringLiteral("and how did you measure that the fix worked"),
         QStringLiteral("We tracked the end-to-end lag per partition as a service level "
                        "indicator, replayed the previous month end against a staging copy, and "
                        "watched the p99 lag for two real month ends after the release. It "
                        "stayed under ten seconds both times."),
         1.5,
         0,
         {},
         {},
         {},
         QStringLiteral("extended")},
        {QStringLiteral("Tell me about a time you disagreed with your manager."),
         QStringLiteral("My manager wanted to ship a retry storm fix behind a feature flag for "
                        "all merchants at once. I proposed a one-percent canary first. We agreed "
                        "on a staged rollout, and the canary caught a timeout setting that would "
                        "have paged the whole team at night."),
         2.0,
         0,
         {},
         {},
         {},
         QStringLiteral("cards")},
        {QStringLiteral("Why do you want to join our team?"),
         QStringLiteral("Your platform handles money movement at a scale where correctness and "
                        "latency both matter, which is the problem I enjoy most. I also like "
                        "that your engineers own their services in production."),
         2.0,
         0,
         {},
         QStringLiteral("pill"),
         QStringLiteral("scroll-up"),
         {}},
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

} // namespace DemoScript
