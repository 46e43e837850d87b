#pragma once

#include "session/QAPair.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class MainThreadInbox;
class QAFlow;
class ScreenCapture;

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
        std::function<void(const QString& cardID, const QString& message, const QByteArray& image)>
            askForCard;
        // What the user must hear: a picture that could not be taken.
        std::function<void(const QString& text)> banner;
        // Where the next picture of the screen is saved; empty when nothing can be saved.
        std::function<QString()> nextPicturePath;
    };

    // `screen` takes the pictures; none on a machine without a display.
    AnswerRequests(QAFlow& flow, ScreenCapture* screen, Hooks hooks);
    ~AnswerRequests();

    // A typed question: a card of its own, answered like any other. Returns its card's id,
    // none for a blank text.
    std::optional<QString> ask(const QString& text);
    // Takes a picture of the screen (of an area the user picks), saves it away from the main
    // thread, then asks about it. Only ever on the user's command.
    void captureScreen(bool pickArea);
    // A question about the screen: a card whose question is the picture (`jpeg`, saved at
    // `picturePath` when it could be), answered from it.
    QString askAboutScreen(const QByteArray& jpeg, const QString& picturePath);
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
    // What goes with a picture of the screen.
    static QString screenMessage();

private:
    void record(const QString& event, const QJsonObject& fields);

    QAFlow& m_flow;
    ScreenCapture* m_screen;
    Hooks m_hooks;
    std::shared_ptr<MainThreadInbox> m_inbox;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
