#pragma once

#include "session/QAPair.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

class QAFlow;

// What the user asks for beside what the model hears: a typed question and a rewrite of a
// finished answer. Each becomes an answer asked for a card; the client writes it when the
// conversation is free, so a request made while another answer streams waits its turn.
class AnswerRequests {
public:
    enum class Style { shorter, moreDetail, example, bullets };

    struct Hooks {
        std::function<bool()> isSpeaking;
        std::function<void(const QString& event, const QJsonObject& fields)> record;
        // Sends `message` as the user's and asks for an answer that fills the card `cardID`.
        std::function<void(const QString& cardID, const QString& message)> askForCard;
    };

    AnswerRequests(QAFlow& flow, Hooks hooks);

    // A typed question: a card of its own, answered like any other. Returns its card's id,
    // none for a blank text.
    std::optional<QString> ask(const QString& text);
    // Rewrites the card's shown answer in `style`; false when the card has no finished answer.
    bool rewrite(const QString& cardID, Style style);
    // Shows another version of a rewritten card's answer.
    void showVersion(const QString& cardID, int index);
    // The flow finished the answer of `card`: a rewrite becomes its newest version.
    void answerFinished(QAPair& card);

    static std::optional<Style> styleNamed(const QString& name);
    static QString nameOf(Style style);
    // The message that asks the model for the rewrite.
    static QString rewriteMessage(Style style, const QString& question, const QString& answer);

private:
    void record(const QString& event, const QJsonObject& fields);

    QAFlow& m_flow;
    Hooks m_hooks;
};
