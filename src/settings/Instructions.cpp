#include "settings/Instructions.h"

#include <QStringList>

namespace {
const QString kRoleHeader = QStringLiteral("\n\n=== ROLE UNDER DISCUSSION ===\n");
const QString kRoleFooter = QStringLiteral(
    "\n\nTailor every answer to this role: use the company's own vocabulary, and when a\n"
    "question maps to a requirement above, connect it to concrete evidence from the\n"
    "context documents. Never claim a requirement the context does not support.");
const QString kPanelHeader = QStringLiteral("\n\n=== WHO IS INTERVIEWING ===\n");
const QString kSeniorityGuide = QStringLiteral(
    "Read each person's seniority and discipline from their job title and pitch\n"
    "accordingly, without being told which bucket they fall into:\n"
    "- Executive / director / head-of titles: give the outcome, the commercial impact\n"
    "  and the risk position in three or four sentences. No methodology tour, no tool\n"
    "  names, no jargon unless they use it first.\n"
    "- Manager / delivery / programme titles: give the delivery mechanics — programme,\n"
    "  dependencies, stakeholders, how slippage was recovered — with moderate technical\n"
    "  depth and named artefacts and cadences.\n"
    "- Engineering / technical / specialist titles: give precise technical substance —\n"
    "  the actual systems, standards, failure modes and trade-offs. Assume fluency and\n"
    "  skip the framing.\n"
    "- HR / talent / people titles: motivation, behaviour and fit in plain language,\n"
    "  STAR shape, no acronyms.\n"
    "- Client / stakeholder titles: confidence about outcomes and communication,\n"
    "  benefits framed in their terms, no internal jargon.");
const QString kRoutingGuide =
    QStringLiteral("\n\nWork out which of them a question came from and answer at their level:\n"
                   "scope, cost, risk and outcome questions come from the senior/commercial\n"
                   "side; questions about systems, standards or how something was actually\n"
                   "built come from the technical side. Keep answers shortest for the most\n"
                   "senior person.\n");
const QString kMixedPanelGuide =
    QStringLiteral("When a question spans both, lead with the outcome in one or two plain "
                   "sentences, then add a single layer of technical specifics for the more "
                   "technical person — one answer, not two.");
const QString kContextHeader = QStringLiteral("\n\n=== CONTEXT DOCUMENTS (about the user) ===\n");
const QString kMeetingFooter =
    QStringLiteral("\n\n=== EARLIER IN THIS MEETING ===\n"
                   "The questions already asked and the answers already given are in the\n"
                   "conversation history. Treat them as established: stay consistent with the\n"
                   "facts, figures and examples you have already used, do not repeat an answer\n"
                   "or an anecdote you have already given, and build on what has been said\n"
                   "rather than restarting. If a later question revisits earlier ground, add\n"
                   "what is new instead of restating it.");
const QString kBrief = QStringLiteral("Keep each answer to two or three short sentences.");
const QString kDetailed =
    QStringLiteral("Give fuller answers: up to two short paragraphs, with a concrete example.");

// One line of the length and the language chosen, empty for the defaults.
QString answerStyle(AppSettings::AnswerLength length, const QString& language) {
    QStringList sentences;
    if (length == AppSettings::AnswerLength::brief)
        sentences << kBrief;
    else if (length == AppSettings::AnswerLength::detailed)
        sentences << kDetailed;
    if (!language.isEmpty())
        sentences << QStringLiteral("Always answer in ") + language +
                         QStringLiteral(", whatever language the question is in.");
    return sentences.join(u' ');
}
} // namespace

QString assembleInstructions(const InstructionsInputs& in) {
    QString text = in.systemPrompt;

    // A value of only spaces still counts: the user typed something there.
    QStringList roleLines;
    if (!in.companyName.isEmpty())
        roleLines << QStringLiteral("Company: ") + in.companyName;
    if (!in.roleTitle.isEmpty())
        roleLines << QStringLiteral("Role: ") + in.roleTitle;
    if (!in.jobDescription.isEmpty())
        roleLines << QStringLiteral("Job description:\n") + in.jobDescription;
    if (!roleLines.isEmpty())
        text += kRoleHeader + roleLines.join(u'\n') + kRoleFooter;

    QStringList panelLines;
    for (qsizetype i = 0; i < in.interviewers.size(); ++i) {
        const Interviewer& member = in.interviewers[i];
        if (!member.isBlank())
            panelLines << QStringLiteral("- ") + member.label(int(i));
    }
    if (!panelLines.isEmpty()) {
        text += kPanelHeader + panelLines.join(u'\n') + QStringLiteral("\n\n") + kSeniorityGuide +
                kRoutingGuide;
        if (panelLines.size() > 1)
            text += kMixedPanelGuide;
    }

    if (!in.contextText.isEmpty())
        text += kContextHeader + in.contextText;

    text += kMeetingFooter;

    // Last, so it outweighs what the prompt and the panel guide say about length. The defaults
    // add nothing: a prompt written without a style reads exactly as its author tried it.
    const QString style = answerStyle(in.answerLength, in.answerLanguage);
    if (!style.isEmpty())
        text += QStringLiteral("\n\n") + style;
    return text;
}
