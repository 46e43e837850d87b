#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

struct Literal {
    int line;
    QString text;
};

// The quoted literals of C++ or QML code with the line each starts on. Comments are left out (one
// may explain how a macOS facility maps to this one); literals that follow each other with only
// blanks between are one text, as the compiler joins them and a line break may fall inside a
// phrase.
QList<Literal> literals(const QString& code) {
    QList<Literal> found;
    int line = 1;
    qsizetype i = 0;
    qsizetype lastEnd = -1;
    const auto moveTo = [&](qsizetype end) {
        end = end < 0 ? code.size() : std::min(end, code.size());
        line += int(QStringView(code).mid(i, end - i).count(u'\n'));
        i = end;
    };
    const auto add = [&](qsizetype from, qsizetype to, qsizetype next) {
        const QString text = code.mid(from, to - from);
        if (lastEnd >= 0 && QStringView(code).mid(lastEnd, i - lastEnd).trimmed().isEmpty())
            found.last().text += text;
        else
            found.append({line, text});
        moveTo(next);
        lastEnd = i;
    };
    const auto hex = [&](qsizetype at) {
        return at >= 0 && at < code.size() &&
               QStringView(u"0123456789abcdefABCDEF").contains(code.at(at));
    };
    while (i < code.size()) {
        const QStringView rest = QStringView(code).mid(i);
        const bool separator = hex(i - 1) && hex(i + 1); // 30'000 or 0xFF'FF, not u'.'
        if (rest.startsWith(u"//")) {
            moveTo(code.indexOf(u'\n', i));
        } else if (rest.startsWith(u"/*")) {
            const qsizetype end = code.indexOf(u"*/", i);
            moveTo(end < 0 ? end : end + 2);
        } else if (rest.startsWith(u"R\"(")) {
            const qsizetype end = code.indexOf(u")\"", i);
            add(i + 3, end < 0 ? code.size() : end, end < 0 ? end : end + 2);
        } else if (rest.front() == u'"' || (rest.front() == u'\'' && !separator)) {
            qsizetype end = i + 1;
            while (end < code.size() && code.at(end) != rest.front())
                end += code.at(end) == u'\\' ? 2 : 1;
            add(i + 1, end, end + 1);
        } else {
            moveTo(i + 1);
        }
    }
    return found;
}

} // namespace

// What the user reads states this platform's facts: no Mac, its settings panes or its frameworks.
TEST(UserTexts, StateNoMacFacts) {
    static const QRegularExpression words(
        QStringLiteral(R"(\b(Mac|macOS|Apple|Core Audio|System Settings)\b)"));
    QStringList hits;
    int files = 0;
    QDirIterator it(QStringLiteral(CORVINEL_SOURCE_DIR),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.qml")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        ++files;
        for (const Literal& literal : literals(QString::fromUtf8(file.readAll()))) {
            for (auto match = words.globalMatch(literal.text); match.hasNext();)
                hits << QStringLiteral("%1:%2: %3")
                            .arg(file.fileName())
                            .arg(literal.line)
                            .arg(match.next().captured());
        }
    }
    EXPECT_GT(files, 100) << "the tree was not found at " CORVINEL_SOURCE_DIR;
    EXPECT_TRUE(hits.isEmpty()) << hits.join(u'\n').toStdString();
}
