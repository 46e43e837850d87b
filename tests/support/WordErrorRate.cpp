#include "support/WordErrorRate.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {
QStringList words(const QString& text) {
    QString cleaned = text.toLower();
    cleaned.replace(QRegularExpression(QStringLiteral("[^a-z' ]")), QStringLiteral(" "));
    return cleaned.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
} // namespace

double wordErrorRate(const QString& reference, const QString& hypothesis) {
    const QStringList ref = words(reference);
    const QStringList hyp = words(hypothesis);
    std::vector<int> previous(size_t(hyp.size()) + 1), current(previous.size());
    for (size_t j = 0; j < previous.size(); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= ref.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= hyp.size(); ++j) {
            const int substitution = previous[size_t(j - 1)] + (ref[i - 1] == hyp[j - 1] ? 0 : 1);
            current[size_t(j)] =
                std::min({substitution, previous[size_t(j)] + 1, current[size_t(j - 1)] + 1});
        }
        std::swap(previous, current);
    }
    return ref.isEmpty() ? 0.0 : double(previous[size_t(hyp.size())]) / double(ref.size());
}
