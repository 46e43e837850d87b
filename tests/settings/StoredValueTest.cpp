#include "settings/StoredValue.h"

#include <gtest/gtest.h>

namespace {
using namespace StoredValue;

TEST(StoredValueTest, BoolAcceptsOnlyBoolsAndTheirText) {
    EXPECT_EQ(toBool(true), true);
    EXPECT_EQ(toBool(QStringLiteral("false")), false);
    EXPECT_EQ(toBool(QStringLiteral("true")), true);
    for (const QVariant& wrong : {QVariant(QStringLiteral("1")), QVariant(QStringLiteral("yes")),
                                  QVariant(QStringLiteral("True")), QVariant(1), QVariant()})
        EXPECT_FALSE(toBool(wrong).has_value()) << wrong.toString().toStdString();
}

TEST(StoredValueTest, IntAcceptsWholeNumbersInRange) {
    EXPECT_EQ(toInt(7), 7);
    EXPECT_EQ(toInt(QStringLiteral("-3")), -3);
    EXPECT_EQ(toInt(qlonglong(42)), 42);
    for (const QVariant& wrong :
         {QVariant(QStringLiteral("1.5")), QVariant(QStringLiteral("two")), QVariant(2.0),
          QVariant(true), QVariant(QStringLiteral("3000000000")), QVariant(QStringLiteral(""))})
        EXPECT_FALSE(toInt(wrong).has_value()) << wrong.toString().toStdString();
}

TEST(StoredValueTest, DoubleAcceptsNumbersAndNumericText) {
    EXPECT_EQ(toDouble(0.25), 0.25);
    EXPECT_EQ(toDouble(8), 8.0);
    EXPECT_EQ(toDouble(QStringLiteral("0.30000000000000004")), 0.1 + 0.2);
    EXPECT_EQ(toDouble(QStringLiteral("8")), 8.0);
    for (const QVariant& wrong : {QVariant(QStringLiteral("high")), QVariant(true),
                                  QVariant(QByteArray("8")), QVariant(QStringLiteral(""))})
        EXPECT_FALSE(toDouble(wrong).has_value());
}

TEST(StoredValueTest, StringsAndListsAreStrict) {
    EXPECT_EQ(toString(QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_FALSE(toString(QStringList{QStringLiteral("a"), QStringLiteral("b")}).has_value());
    EXPECT_FALSE(toString(5).has_value());
    EXPECT_EQ(toStringList(QStringLiteral("one")), QStringList{QStringLiteral("one")});
    EXPECT_EQ(toStringList(QVariantList{QStringLiteral("a"), QStringLiteral("b")}),
              (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_FALSE(toStringList(QVariantList{QStringLiteral("a"), 1}).has_value());
    EXPECT_FALSE(toStringList(3).has_value());
    EXPECT_EQ(toData(QByteArray("[]")), QByteArray("[]"));
    EXPECT_FALSE(toData(4).has_value());
}

TEST(StoredValueTest, TextJoinsTheCommaSplitParts) {
    EXPECT_EQ(toText(QStringLiteral("a, b")), QStringLiteral("a, b"));
    EXPECT_EQ(toText(QStringList{QStringLiteral("a"), QStringLiteral("b")}),
              QStringLiteral("a, b"));
    EXPECT_FALSE(toText(5).has_value());
}

TEST(StoredValueTest, RawIniValueIsTheGeneralSectionsLineAsWritten) {
    const QByteArray ini = "k=top\r\n[General]\nother=1\n k = \"a, b\" \n[Else]\nk=no\n";
    EXPECT_EQ(rawIniValue(ini, QStringLiteral("k")), QStringLiteral("top"));
    EXPECT_EQ(rawIniValue(ini.mid(7), QStringLiteral("k")), QStringLiteral("\"a, b\""));
    EXPECT_EQ(rawIniValue("[Else]\nk=no\n", QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(rawIniValue(ini, QStringLiteral("missing")), std::nullopt);
}

} // namespace
