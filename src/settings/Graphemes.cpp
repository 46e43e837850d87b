#include "settings/Graphemes.h"

#include <QTextBoundaryFinder>

namespace Graphemes {

qsizetype count(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype clusters = 0;
    while (finder.toNextBoundary() != -1)
        ++clusters;
    return clusters;
}

qsizetype prefixLength(const QString& text, qsizetype limit) {
    // Every cluster holds at least one code unit: a short text cannot exceed the limit.
    if (text.size() <= limit)
        return -1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype clusters = 0;
    qsizetype end = 0;
    while (clusters < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return -1;
        end = next;
        ++clusters;
    }
    return end < text.size() ? end : -1;
}

} // namespace Graphemes
