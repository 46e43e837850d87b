#include "session/AnswerRequests.h"

#include "session/QAFlow.h"
#include "settings/Graphemes.h"

#include <utility>

namespace {
struct StyleRow {
    AnswerRequests::Style style;
    const char* name;
    const char* how;
};
constexpr StyleRow kStyles[] = {
    {AnswerRequests::Style::shorter, "shorter",
     "much shorter: two sentences at most, keeping its facts"},
    {AnswerRequests::Style::moreDetail, "more_detail",
     "with more detail: the reasoning behind it and one concrete fact from my background"},
    {AnswerRequests::Style::example, "example",
     "around one concrete example from my experience, told briefly: the situation, what I did, "
     "the result"},
    {AnswerRequests::Style::bullets, "bullets", "as three to five short bullet points"},
};
} // namespace

AnswerRequests::AnswerRequests(QAFlow& flow, Hooks hooks)
    : m_flow(flow), m_hooks(std::move(hooks)) {}

void AnswerRequests::record(const QString& event, const QJsonObject& fields) {
    if (m_hooks.record)
        m_hooks.record(event, fields);
}

std::optional<AnswerRequests::Style> AnswerRequests::styleNamed(const QString& name) {
    for (const StyleRow& row : kStyles)
        if (name == QLatin1String(row.name))
            return row.style;
    return std::nullopt;
}

QString AnswerRequests::nameOf(Style style) {
    for (const StyleRow& row : kStyles)
        if (row.style == style)
            return QLatin1String(row.name);
    return {};
}

QString AnswerRequests::rewriteMessage(Style style, const QString& question,
                                       const QString& answer) {
    QString how;
    for (const StyleRow& row : kStyles)
        if (row.style == style)
            how = QLatin1String(row.how);
    return QStringLiteral("Rewrite this answer to the question \"%1\" %2. Reply with the new "
                          "answer only.\n\n%3")
        .arg(question, how, answer);
}

std::optional<QString> AnswerRequests::ask(const QString& text) {
    const QString question = text.trimmed();
    if (question.isEmpty())
        return std::nullopt;
    QAPair& card = m_flow.appendAskedQuestion(question);
    card.isTyped = true;
    const QString id = card.id;
    record(QStringLiteral("question"),
           {{QStringLiteral("text"), question},
            {QStringLiteral("pair"), id},
            {QStringLiteral("you_were_speaking"), m_hooks.isSpeaking && m_hooks.isSpeaking()},
            {QStringLiteral("typed"), true}});
    m_flow.notifyChanged();
    if (m_hooks.askForCard)
        m_hooks.askForCard(id, question);
    return id;
}

bool AnswerRequests::rewrite(const QString& cardID, Style style) {
    QAPair* card = m_flow.pair(cardID);
    if (!card || !card->isComplete || card->answer.isEmpty() || !card->rewriting.isEmpty())
        return false;
    if (card->versions.isEmpty())
        card->versions.append(card->answer);
    const QString message = rewriteMessage(style, card->question, card->answer);
    card->rewriting = nameOf(style);
    card->answer.clear();
    card->isComplete = false;
    card->notice.clear();
    m_flow.restartAnswer(cardID);
    if (m_hooks.askForCard)
        m_hooks.askForCard(cardID, message);
    return true;
}

void AnswerRequests::showVersion(const QString& cardID, int index) {
    QAPair* card = m_flow.pair(cardID);
    if (!card || !card->rewriting.isEmpty() || index < 0 || index >= card->versions.size() ||
        index == card->shownVersion)
        return;
    card->shownVersion = index;
    card->answer = card->versions.at(index);
    m_flow.notifyChanged();
    m_flow.pushHistory();
}

void AnswerRequests::answerFinished(QAPair& card) {
    if (card.rewriting.isEmpty())
        return;
    const QString style = std::exchange(card.rewriting, QString());
    const QString before = card.versions.value(card.shownVersion);
    // Nothing came (refused, cancelled): the answer it was to replace stays.
    if (card.answer.isEmpty()) {
        card.answer = before;
        if (card.versions.size() == 1)
            card.versions.clear();
        return;
    }
    card.versions.append(card.answer);
    card.shownVersion = int(card.versions.size() - 1);
    record(QStringLiteral("answer_refined"),
           {{QStringLiteral("pair"), card.id},
            {QStringLiteral("style"), style},
            {QStringLiteral("from_chars"), Graphemes::count(before)},
            {QStringLiteral("to_chars"), Graphemes::count(card.answer)}});
}
