#include "context/ContextLoader.h"
#include "context/PdfText.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "Printers.h"

// Documents written by other programs (see tests/data/context/README.md), read by us and by
// peer readers (unrtf, pdftotext).

namespace {

QString dataFile(const char* name) {
    return QStringLiteral(CONTEXT_DATA "/") + QLatin1String(name);
}

QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

QString loadOne(const char* name) {
    const std::optional<QString> text = ContextLoader::extract(QUrl::fromLocalFile(dataFile(name)));
    EXPECT_TRUE(text) << name;
    return text.value_or(QString());
}

QStringList words(const QString& text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.split(space, Qt::SkipEmptyParts);
}

// unrtf's text mode passes code-page bytes through raw and writes the ASCII fallback of \u
// characters, so the two readers are compared on ASCII letters and digits, word by word.
QStringList asciiWords(const QString& text) {
    QString kept;
    for (const QChar c : text)
        if (c.unicode() < 0x80 && (c.isLetterOrNumber() || c.isSpace()))
            kept.append(c);
    return words(kept);
}

QString unrtfText(const QString& path) {
    const QString out = QString::fromLatin1(runTool(QStringLiteral(UNRTF), {"--text", path}));
    // A banner of "###" lines and a dashed rule come before the document text.
    const qsizetype rule = out.indexOf(QStringLiteral("-----------------\n"));
    EXPECT_GE(rule, 0);
    return out.mid(rule + 18);
}

TEST(PeerDocumentTest, RtfFromPeerWritersReadsLikeUnrtf) {
    for (const char* name : {"resume-pandoc.rtf", "resume-abiword.rtf"}) {
        SCOPED_TRACE(name);
        const QString ours = loadOne(name);
        EXPECT_EQ(asciiWords(ours), asciiWords(unrtfText(dataFile(name))));
        EXPECT_TRUE(ours.contains(QStringLiteral("Z\u00FCrich"))) << ours.toStdString();
        EXPECT_TRUE(ours.contains(QStringLiteral("\u20AC35m budget with the fa\u00E7ade")));
    }
}

TEST(PeerDocumentTest, PdfFromAPeerWriterReadsLikePdftotext) {
    const QString path = dataFile("resume.pdf");
    QString peer =
        QString::fromUtf8(runTool(QStringLiteral(PDFTOTEXT), {"-enc", "UTF-8", path, "-"}));
    EXPECT_EQ(loadOne("resume.pdf"),
              ContextLoader::clean(peer.remove(QLatin1Char('\f')), ContextLoader::kCharacterLimit));
}

TEST(PeerDocumentTest, PdfPagesComeInOrderAndPagesWithoutTextAreSkipped) {
    // Pages: the résumé, the same page as an image only, the résumé again.
    const std::optional<QString> single = readPdfText(dataFile("resume.pdf"));
    const std::optional<QString> mixed = readPdfText(dataFile("resume-mixed.pdf"));
    ASSERT_TRUE(single && mixed);
    ASSERT_TRUE(single->endsWith(QLatin1Char('\n')));
    EXPECT_FALSE(single->contains(QLatin1Char('\f')));
    EXPECT_EQ(*mixed, *single + *single);

    const QString peer = QString::fromUtf8(
        runTool(QStringLiteral(PDFTOTEXT), {"-enc", "UTF-8", dataFile("resume-mixed.pdf"), "-"}));
    EXPECT_EQ(words(loadOne("resume-mixed.pdf")), words(peer));
}

TEST(PeerDocumentTest, PdfWithoutTextLayerYieldsNothing) {
    const QString path = dataFile("resume-scanned.pdf");
    const std::optional<QString> pages = readPdfText(path);
    ASSERT_TRUE(pages) << "the file opens";
    EXPECT_EQ(*pages, QString());
    const ContextLoader::Result result = ContextLoader::load(
        {QUrl::fromLocalFile(path), QUrl::fromLocalFile(dataFile("resume.txt"))});
    EXPECT_EQ(result.names, QStringList{QStringLiteral("resume.txt")});
}

// Heading marks, list bullets and ligatures are what the formats add or cannot carry; the
// words and their order are the same.
QStringList contentWords(const QString& text) {
    static const QRegularExpression markup(QStringLiteral("^(#+|-|\\x{2022})$"));
    QStringList kept;
    for (const QString& word : words(text.normalized(QString::NormalizationForm_KC)))
        if (!markup.match(word).hasMatch())
            kept.append(word);
    return kept;
}

TEST(PeerDocumentTest, OneResumeInEveryFormatLoadsToTheSameText) {
    const QStringList reference = contentWords(loadOne("resume.md"));
    ASSERT_GT(reference.size(), 80);
    for (const char* name :
         {"resume.txt", "resume.pdf", "resume-pandoc.rtf", "resume-abiword.rtf"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(contentWords(loadOne(name)), reference);
    }
}

} // namespace
