#include "update/Version.h"

#include <QList>
#include <algorithm>

namespace {

struct Part {
    bool number = true;
    QString text; // digits without leading zeros, or the word
};

// Runs of digits and runs of letters; dots, dashes and the like only separate them.
QList<Part> split(const QString& version) {
    QList<Part> parts;
    QString run;
    bool runIsNumber = false;
    auto flush = [&] {
        if (run.isEmpty())
            return;
        if (runIsNumber) {
            qsizetype zeros = 0;
            while (zeros < run.size() - 1 && run.at(zeros) == u'0')
                ++zeros;
            run.remove(0, zeros);
        }
        parts.append({runIsNumber, run});
        run.clear();
    };
    for (const QChar c : version) {
        const bool digit = c.isDigit();
        if (!digit && !c.isLetter()) {
            flush();
            continue;
        }
        if (!run.isEmpty() && digit != runIsNumber)
            flush();
        runIsNumber = digit;
        run.append(c);
    }
    flush();
    return parts;
}

int compareNumbers(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

int compareVersions(const QString& a, const QString& b) {
    const QList<Part> left = split(a);
    const QList<Part> right = split(b);
    const Part zero{true, QStringLiteral("0")};
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const Part& l = i < left.size() ? left.at(i) : zero;
        const Part& r = i < right.size() ? right.at(i) : zero;
        // A word facing a number (or the end, which counts as zero) is a pre-release of what
        // the other side names.
        if (l.number != r.number)
            return l.number ? 1 : -1;
        const int order =
            l.number ? compareNumbers(l.text, r.text) : l.text.compare(r.text, Qt::CaseInsensitive);
        if (order != 0)
            return sign(order);
    }
    return 0;
}
