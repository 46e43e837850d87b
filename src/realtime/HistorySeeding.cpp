#include "realtime/HistorySeeding.h"

#include <QTextBoundaryFinder>

namespace HistorySeeding {

int graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QList<Pair> select(const QList<Pair>& history, int limit, int budget) {
    QList<Pair> taken;
    const qsizetype oldest = std::max<qsizetype>(0, history.size() - limit);
    for (qsizetype i = history.size() - 1; i >= oldest; --i) {
        const Pair& pair = history[i];
        const int cost = graphemeCount(pair.question) + graphemeCount(pair.answer);
        if (cost >= budget)
            break;
        budget -= cost;
        taken.prepend(pair);
    }
    return taken;
}

} // namespace HistorySeeding
