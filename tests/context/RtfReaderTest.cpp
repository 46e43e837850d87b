#include "context/RtfReader.h"

#include <QString>
#include <gtest/gtest.h>

#include "Printers.h"

#include <string>

namespace {

std::optional<QString> read(std::string_view rtf) {
    const std::optional<std::u16string> text = readRtfText(rtf);
    if (!text)
        return std::nullopt;
    return QString::fromStdU16String(*text);
}

struct RtfCase {
    const char* name;
    std::string rtf;
    QString expected;
};

TEST(RtfReaderTest, ReadsTheDocumentText) {
    const RtfCase cases[] = {
        {"plain words", "{\\rtf1 Hello world}", QStringLiteral("Hello world")},
        {"par, line and tab", "{\\rtf1 a\\par b\\line c\\tab d}", QStringLiteral("a\nb\nc\td")},
        {"line breaks in the source are not text", "{\\rtf1 a\r\nb\nc}", QStringLiteral("abc")},
        {"escaped backslash and braces", "{\\rtf1 \\\\ \\{x\\}}", QStringLiteral("\\ {x}")},
        {"the space after a control word delimits it", "{\\rtf1\\b bold\\b0  plain}",
         QStringLiteral("bold plain")},
        {"a backslash line break is a paragraph", "{\\rtf1 a\\\nb}", QStringLiteral("a\nb")},
        {"hex bytes default to code page 1252", "{\\rtf1 caf\\'e9 \\'80 \\'93q\\'94}",
         QStringLiteral("caf\u00E9 \u20AC \u201Cq\u201D")},
        {"ansicpg picks the code page", "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}",
         QStringLiteral("\u041F\u0440\u0438")},
        {"an unknown code page falls back to 1252", "{\\rtf1\\ansicpg99999 \\'e9}",
         QStringLiteral("\u00E9")},
        {"mac code page", "{\\rtf1\\mac \\'8e}", QStringLiteral("\u00E9")},
        {"font charset overrides the document code page",
         "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial "
         "Cyr;}}\\'e9{\\f1 \\'e9}\\'e9}",
         QStringLiteral("\u00E9\u0439\u00E9")},
        {"double-byte code page across bytes", "{\\rtf1\\ansicpg932 \\'93\\'fa\\'96\\'7b}",
         QStringLiteral("\u65E5\u672C")},
        {"double-byte lead byte with a literal trail byte", "{\\rtf1\\ansicpg932 \\'83A}",
         QStringLiteral("\u30A2")},
        {"unicode with its one-character fallback", "{\\rtf1 \\u233?t\\u233\\'e9}",
         QStringLiteral("\u00E9t\u00E9")},
        {"uc0 has no fallback", "{\\rtf1\\uc0 \\u8364 EUR}", QStringLiteral("\u20ACEUR")},
        {"uc2 skips two characters, a control word counts as one",
         "{\\rtf1\\uc2 \\u8364\\'80\\'80x \\u8212\\endash -y}", QStringLiteral("\u20ACx \u2014y")},
        {"a group end stops the fallback", "{\\rtf1\\uc3 {\\u8364 E}UR}",
         QStringLiteral("\u20ACUR")},
        {"uc is scoped to its group", "{\\rtf1{\\uc0\\u65 }\\u66 ?C}", QStringLiteral("ABC")},
        {"negative unicode and a surrogate pair", "{\\rtf1 \\u-10179?\\u-8704?!}",
         QStringLiteral("\U0001F600!")},
        {"a lone surrogate becomes a replacement", "{\\rtf1 \\u-10179?x}",
         QStringLiteral("\uFFFDx")},
        {"named punctuation",
         "{\\rtf1 \\lquote a\\rquote \\ldblquote b\\rdblquote \\emdash \\endash \\bullet\\~}",
         QStringLiteral("\u2018a\u2019\u201Cb\u201D\u2014\u2013\u2022\u00A0")},
        {"font, colour and style tables are skipped",
         "{\\rtf1{\\fonttbl{\\f0\\fswiss Helvetica;}}{\\colortbl;\\red255\\green0\\blue0;}"
         "{\\stylesheet{\\s1 Heading 1;}}Body}",
         QStringLiteral("Body")},
        {"document info and pictures are skipped",
         "{\\rtf1{\\info{\\title Secret}{\\author Me}}{\\pict\\pngblip 89504e47}Text}",
         QStringLiteral("Text")},
        {"every starred destination is skipped",
         "{\\rtf1{\\*\\generator Writer;}{\\*\\unknownthing x{y}}A{\\*\\bkmkstart b}B}",
         QStringLiteral("AB")},
        {"field instructions are skipped, the result kept",
         "{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt Link}}}", QStringLiteral("Link")},
        {"binary data is skipped whole", "{\\rtf1 a\\bin3 }{x{\\b c}}", QStringLiteral("ac")},
        {"text after the document group is ignored", "{\\rtf1 in}out", QStringLiteral("in")},
        {"leading white space before the header", "\r\n {\\rtf1 x}", QStringLiteral("x")},
        {"control bytes are not text", std::string("{\\rtf1 a\x01\x7F", 9) + "b}",
         QStringLiteral("ab")},
    };
    for (const RtfCase& row : cases) {
        SCOPED_TRACE(row.name);
        const std::optional<QString> text = read(row.rtf);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, row.expected);
    }
}

TEST(RtfReaderTest, WhatIsNotRtfReadsAsNothing) {
    EXPECT_FALSE(read(""));
    EXPECT_FALSE(read("plain text"));
    EXPECT_FALSE(read("{\\rt"));
    EXPECT_FALSE(read("x{\\rtf1 a}"));
}

TEST(RtfReaderTest, MalformedInputReadsAsFarAsItGoes) {
    const RtfCase cases[] = {
        {"unterminated document", "{\\rtf1 abc", QStringLiteral("abc")},
        {"unterminated inner group", "{\\rtf1 a{\\b b", QStringLiteral("ab")},
        {"extra closing braces", "{\\rtf1 a}}}}b", QStringLiteral("a")},
        {"cut after a backslash", "{\\rtf1 a\\", QStringLiteral("a")},
        {"cut inside a hex byte", "{\\rtf1 a\\'e", QStringLiteral("ae")},
        {"bad hex digits", "{\\rtf1 a\\'zzb}", QStringLiteral("azzb")},
        {"cut inside unicode", "{\\rtf1 a\\u", QStringLiteral("a")},
        {"huge unicode value", "{\\rtf1 \\u99999999999999999999 x}", QStringLiteral("\uFFFF")},
        {"huge negative value is a control code, not text", "{\\rtf1 \\u-99999999999999999999 x}",
         QString()},
        {"huge binary length", "{\\rtf1 a\\bin99999999999999 bcd}", QStringLiteral("a")},
        {"negative binary length", "{\\rtf1 a\\bin-5 bcd}", QStringLiteral("abcd")},
        {"huge fallback count", "{\\rtf1\\uc2147483647 \\u65 lost}done", QStringLiteral("A")},
        {"negative fallback count", "{\\rtf1\\uc-4 \\u65 B}", QStringLiteral("AB")},
        {"overlong control word", "{\\rtf1 \\" + std::string(5000, 'x') + " y}",
         QStringLiteral("y")},
        {"cut inside the font table", "{\\rtf1{\\fonttbl{\\f0\\fcharset204", QString()},
        {"star with nothing after it", "{\\rtf1 a{\\*}b}", QStringLiteral("ab")},
        {"invalid double-byte sequence", "{\\rtf1\\ansicpg932 \\'81}x", QStringLiteral("\uFFFD")},
    };
    for (const RtfCase& row : cases) {
        SCOPED_TRACE(row.name);
        const std::optional<QString> text = read(row.rtf);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, row.expected);
    }
}

TEST(RtfReaderTest, DeepNestingNeitherRecursesNorFails) {
    std::string rtf = "{\\rtf1 ";
    rtf.append(200000, '{');
    rtf += "deep";
    rtf.append(200000, '}');
    rtf += " after}";
    const std::optional<QString> text = read(rtf);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, QStringLiteral("deep after"));
}

} // namespace
