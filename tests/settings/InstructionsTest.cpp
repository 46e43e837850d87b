#include "settings/Instructions.h"
#include "settings/AppSettings.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

const QString kFooter =
    QStringLiteral("\n\n=== EARLIER IN THIS MEETING ===\n"
                   "The questions already asked and the answers already given are in the\n"
                   "conversation history. Treat them as established: stay consistent with the\n"
                   "facts, figures and examples you have already used, do not repeat an answer\n"
                   "or an anecdote you have already given, and build on what has been said\n"
                   "rather than restarting. If a later question revisits earlier ground, add\n"
                   "what is new instead of restating it.");
const QString kRoleFooterStart = QStringLiteral("\n\nTailor every answer to this role:");
const QString kRoutingEnd = QStringLiteral("Keep answers shortest for the most\nsenior person.\n");
const QString kMixed = QStringLiteral("When a question spans both, lead with the outcome");

Interviewer member(const char* name, const char* title) {
    return Interviewer{QUuid::createUuid(), QString::fromUtf8(name), QString::fromUtf8(title)};
}

InstructionsInputs blank(const QString& prompt = QStringLiteral("PROMPT")) {
    return {prompt, {}, {}, {}, {member("", ""), member("", "")}, {}};
}

TEST(InstructionsTest, NothingButThePromptGivesPromptThenFooter) {
    EXPECT_EQ(assembleInstructions(blank()), QStringLiteral("PROMPT") + kFooter);
    EXPECT_EQ(assembleInstructions(blank(QString())), kFooter);
}

TEST(InstructionsTest, EmptyPromptStartsWithTheFirstSection) {
    InstructionsInputs in = blank(QString());
    in.roleTitle = QStringLiteral("Engineer");
    EXPECT_TRUE(assembleInstructions(in).startsWith(
        QStringLiteral("\n\n=== ROLE UNDER DISCUSSION ===\nRole: Engineer\n\nTailor")));
}

TEST(InstructionsTest, RoleLinesKeepTheirOrderAndASingleSpaceCounts) {
    InstructionsInputs in = blank();
    in.companyName = QStringLiteral(" ");
    EXPECT_TRUE(assembleInstructions(in).startsWith(
        QStringLiteral("PROMPT\n\n=== ROLE UNDER DISCUSSION ===\nCompany:  ") + kRoleFooterStart));

    in.companyName = QStringLiteral("Acme");
    in.roleTitle = QStringLiteral("Lead");
    in.jobDescription = QStringLiteral("Ship.\nOften.");
    EXPECT_TRUE(assembleInstructions(in).startsWith(
        QStringLiteral("PROMPT\n\n=== ROLE UNDER DISCUSSION ===\nCompany: Acme\nRole: Lead\n"
                       "Job description:\nShip.\nOften.") +
        kRoleFooterStart));
}

TEST(InstructionsTest, PanelSectionListsKeptMembersAndMixedGuideOnlyForTwo) {
    struct Row {
        const char* name;
        Panel panel;
        QString lines;
        bool mixed;
    };
    const Row table[] = {
        {"one named person", {member("Ann", "CTO"), member("", "")}, "- Ann — CTO", false},
        {"title only, padded",
         {member(" \t", "  Head of HR\t"), member("", "")},
         "- Head of HR",
         false},
        {"second only", {member("", " "), member("Bo", "")}, "- Bo", false},
        {"two people",
         {member("Ann", "CTO"), member("", "Recruiter")},
         "- Ann — CTO\n- Recruiter",
         true},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        InstructionsInputs in = blank();
        in.interviewers = row.panel;
        const QString text = assembleInstructions(in);
        const QString head = QStringLiteral("PROMPT\n\n=== WHO IS INTERVIEWING ===\n") + row.lines +
                             QStringLiteral("\n\nRead each person's seniority");
        EXPECT_TRUE(text.startsWith(head)) << text.left(200).toStdString();
        if (row.mixed) {
            EXPECT_TRUE(text.contains(kRoutingEnd + kMixed));
            EXPECT_TRUE(text.endsWith(QStringLiteral("one answer, not two.") + kFooter));
        } else {
            EXPECT_FALSE(text.contains(kMixed));
            EXPECT_TRUE(text.endsWith(kRoutingEnd + kFooter));
        }
    }
}

TEST(InstructionsTest, BlankPanelMembersAddNothing) {
    InstructionsInputs in = blank();
    in.interviewers = {member(" ", "\t"), member("", "")};
    EXPECT_EQ(assembleInstructions(in), QStringLiteral("PROMPT") + kFooter);
}

TEST(InstructionsTest, ContextIsInsertedWholeAfterThePanel) {
    InstructionsInputs in = blank();
    in.interviewers = {member("Ann", ""), member("", "")};
    in.contextText = QString(100000, u'x') + QStringLiteral("  \n\n\n  end");
    const QString text = assembleInstructions(in);
    EXPECT_TRUE(text.endsWith(QStringLiteral("\n\n=== CONTEXT DOCUMENTS (about the user) ===\n") +
                              in.contextText + kFooter));
    EXPECT_LT(text.indexOf(QStringLiteral("=== WHO IS")),
              text.indexOf(QStringLiteral("=== CONTEXT")));
}

// At the default style every byte is what sessions were sent before there was one (the digest
// pins it); each other choice adds one last line.
TEST(InstructionsTest, AnswerStyleAddsOneLastLineAndItsDefaultsNothing) {
    using Length = AppSettings::AnswerLength;
    InstructionsInputs in{QStringLiteral("Answer as me, in the first person.\nNo greetings."),
                          QStringLiteral("Acme, Inc."),
                          QStringLiteral("Staff Engineer"),
                          QStringLiteral("Ship the realtime stack.\n- C++20, Qt 6"),
                          {member("Ann", "CTO"), member("", "Head of Talent")},
                          QStringLiteral("CV: ten years of audio software.")};
    const QString plain = assembleInstructions(in);
    EXPECT_EQ(QCryptographicHash::hash(plain.toUtf8(), QCryptographicHash::Sha256).toHex(),
              "2d6faba80f250ea751aad1317c704b645321e05e478ce820d92b68200c2a3854");
    const std::tuple<Length, const char*, const char*> rows[] = {
        {Length::brief, "", "Keep each answer to two or three short sentences."},
        {Length::detailed, "",
         "Give fuller answers: up to two short paragraphs, with a concrete example."},
        {Length::normal, "German",
         "Always answer in German, whatever language the question is in."},
        {Length::brief, "Japanese",
         "Keep each answer to two or three short sentences. Always answer in Japanese, whatever "
         "language the question is in."},
    };
    for (const auto& [length, language, line] : rows) {
        in.answerLength = length;
        in.answerLanguage = QString::fromLatin1(language);
        EXPECT_EQ(assembleInstructions(in), plain + QStringLiteral("\n\n") + QLatin1String(line));
    }
}

TEST(InstructionsTest, AppSettingsAssemblesFromItsOwnValues) {
    AppSettings settings(
        QStringLiteral("%1/instructions-test.conf").arg(qEnvironmentVariable("HOME")));
    settings.setContextText(QStringLiteral("CV"));
    EXPECT_TRUE(settings.instructions().startsWith(AppSettings::defaultSystemPrompt() +
                                                   QStringLiteral("\n\n=== CONTEXT DOCUMENTS")));
    settings.setAnswerLength(AppSettings::AnswerLength::detailed);
    settings.setAnswerLanguage(QStringLiteral("Polish"));
    EXPECT_TRUE(settings.instructions().endsWith(
        QStringLiteral("example. Always answer in Polish, whatever language the question is in.")));
}

} // namespace
