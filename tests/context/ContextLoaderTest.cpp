#include "context/ContextLoader.h"
#include "settings/Graphemes.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "Printers.h"

namespace {

const QString kMarker = QStringLiteral("\n[\u2026truncated]");

QUrl writeFile(const TestHome& home, const QString& name, const QByteArray& bytes) {
    const QString path = home.path() + QLatin1Char('/') + name;
    writeBytes(path, bytes);
    return QUrl::fromLocalFile(path);
}

struct CleanCase {
    const char* name;
    QString input;
    QString expected;
};

TEST(ContextLoaderTest, CleansLineBreaksAndWhiteSpace) {
    const CleanCase cases[] = {
        {"four CRLF pairs become one blank line", QStringLiteral("a\r\n\r\n\r\n\r\nb"),
         QStringLiteral("a\n\nb")},
        {"tabs and spaces collapse", QStringLiteral("one \t two\t\tthree    four"),
         QStringLiteral("one two three four")},
        {"leading and trailing blank lines vanish", QStringLiteral("\n\n  \n lead\tand trail \n\n"),
         QStringLiteral("lead and trail")},
        {"long runs of line feeds become two", QStringLiteral("a\n\n\n\n\n\nb\n\n\nc"),
         QStringLiteral("a\n\nb\n\nc")},
        {"one blank line stays", QStringLiteral("a\n\nb\nc"), QStringLiteral("a\n\nb\nc")},
        {"a lone carriage return is not a line feed", QStringLiteral("a\rb"),
         QStringLiteral("a\rb")},
        {"spaces between line feeds keep the run apart", QStringLiteral("a\n \n \nb"),
         QStringLiteral("a\n \n \nb")},
        {"only white space", QStringLiteral(" \t\r\n\n "), QString()},
        {"empty", QString(), QString()},
    };
    for (const CleanCase& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ContextLoader::clean(row.input, ContextLoader::kCharacterLimit), row.expected);
    }
}

struct CutCase {
    const char* name;
    QString text;
    qsizetype limit;
    QString expected;
};

TEST(ContextLoaderTest, CutsAtGraphemeClustersNeverInsideOne) {
    const QString family = QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467");
    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");
    const QString flag = QStringLiteral("\U0001F1E8\U0001F1ED");
    const QString accented = QStringLiteral("e\u0301\u0327");
    const CutCase cases[] = {
        {"ZWJ family emoji at the cut", QStringLiteral("ab") + family + QStringLiteral("cd"), 3,
         QStringLiteral("ab") + family + kMarker},
        {"emoji with skin tone at the cut", QStringLiteral("ab") + thumb + QStringLiteral("cd"), 3,
         QStringLiteral("ab") + thumb + kMarker},
        {"flag at the cut", flag + flag + flag, 2, flag + flag + kMarker},
        {"combining accents at the cut", QStringLiteral("ab") + accented + QStringLiteral("x"), 3,
         QStringLiteral("ab") + accented + kMarker},
        {"cluster just past the cut is dropped whole", QStringLiteral("abc") + family, 3,
         QStringLiteral("abc") + kMarker},
        {"exactly the limit is not cut", QStringLiteral("ab") + family, 3,
         QStringLiteral("ab") + family},
        {"more code units than the limit but not more clusters", family + family, 2,
         family + family},
        {"limit zero keeps nothing", QStringLiteral("abc"), 0, kMarker},
    };
    for (const CutCase& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ContextLoader::clean(row.text, row.limit), row.expected);
    }
}

TEST(ContextLoaderTest, CountsUserPerceivedCharacters) {
    EXPECT_EQ(Graphemes::count(QString()), 0);
    EXPECT_EQ(Graphemes::count(QStringLiteral("e\u0301t\u00E9")), 3);
    EXPECT_EQ(Graphemes::count(QStringLiteral("\U0001F469\u200D\U0001F4BB!")), 2);
}

TEST(ContextLoaderTest, ThirtyThousandCharacterFileKeepsTheFirst24000) {
    TestHome home;
    QByteArray body;
    for (int i = 0; i < 30000; ++i)
        body.append(char('a' + i % 26));
    const std::optional<QString> text =
        ContextLoader::extract(writeFile(home, QStringLiteral("long.txt"), body));
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, QString::fromLatin1(body.left(24000)) + kMarker);
}

TEST(ContextLoaderTest, TextFileAndEmptyFileGiveOneSection) {
    TestHome home;
    const QUrl notes = writeFile(home, QStringLiteral("notes.txt"), "  Built\t\tthings.\r\n");
    const QUrl empty = writeFile(home, QStringLiteral("empty.md"), "");
    const ContextLoader::Result result = ContextLoader::load({notes, empty});
    EXPECT_EQ(result.names, QStringList{QStringLiteral("notes.txt")});
    EXPECT_EQ(result.text, QStringLiteral("----- notes.txt -----\nBuilt things."));
}

TEST(ContextLoaderTest, JoinsContributingFilesInOrderAndSkipsTheRest) {
    TestHome home;
    const QUrl second = writeFile(home, QStringLiteral("b.md"), "# Two\n");
    const QUrl blank = writeFile(home, QStringLiteral("blank.txt"), " \n\t\n");
    const QUrl legacy = writeFile(home, QStringLiteral("cp1252.txt"),
                                  "caf\xE9 \x93"
                                  "au lait\x94");
    const QUrl cut = writeFile(home, QStringLiteral("cut.txt"), "z\xC3\xBCrich caf\xC3");
    const QUrl cutLonger =
        writeFile(home, QStringLiteral("smile.txt"), "z\xC3\xBCrich \xF0\x9F\x98");
    const QUrl other = writeFile(home, QStringLiteral("log.LOG"), "\xEF\xBB\xBFz\xC3\xBCrich");
    const QUrl first = writeFile(home, QStringLiteral("a.TXT"), "One");
    const QUrl missing = QUrl::fromLocalFile(home.path() + QStringLiteral("/missing.txt"));
    const QUrl remote(QStringLiteral("https://127.0.0.1/cv.txt"));
    const QUrl folder = QUrl::fromLocalFile(home.path());
    const QUrl notPdf = writeFile(home, QStringLiteral("fake.pdf"), "plain words");
    const QUrl notRtf = writeFile(home, QStringLiteral("fake.rtf"), "plain words");

    const ContextLoader::Result result =
        ContextLoader::load({first, missing, blank, second, legacy, cut, cutLonger, remote, folder,
                             notPdf, notRtf, other});
    EXPECT_EQ(result.names, (QStringList{QStringLiteral("a.TXT"), QStringLiteral("b.md"),
                                         QStringLiteral("cp1252.txt"), QStringLiteral("log.LOG")}));
    EXPECT_EQ(result.text,
              QStringLiteral("----- a.TXT -----\nOne\n\n"
                             "----- b.md -----\n# Two\n\n"
                             "----- cp1252.txt -----\ncaf\u00E9 \u201Cau lait\u201D\n\n"
                             "----- log.LOG -----\nz\u00FCrich"));
}

TEST(ContextLoaderTest, NothingLoadsToNothing) {
    const ContextLoader::Result result = ContextLoader::load({});
    EXPECT_TRUE(result.text.isEmpty());
    EXPECT_TRUE(result.names.isEmpty());
}

} // namespace
