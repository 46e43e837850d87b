#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

// One card: a question of the other side, the model's answer and the user's own answer.
struct QAPair {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString timestamp MEMBER timestamp CONSTANT)
    Q_PROPERTY(QString question MEMBER question)
    Q_PROPERTY(QString answer MEMBER answer)
    Q_PROPERTY(bool isComplete MEMBER isComplete)
    Q_PROPERTY(bool wasExtended MEMBER wasExtended)
    Q_PROPERTY(QString myAnswer MEMBER myAnswer)
    Q_PROPERTY(bool myAnswerInProgress MEMBER myAnswerInProgress)
    Q_PROPERTY(QString notice MEMBER notice)
    Q_PROPERTY(bool isTyped MEMBER isTyped)

public:
    QString id;        // upper-case UUID
    QString timestamp; // "HH:mm:ss", local time of creation
    QString question;
    QString answer;
    bool isComplete = false;
    std::optional<QString> responseID;
    bool wasExtended = false;
    double lastQuestionAt = 0; // steady seconds
    QString myAnswer;
    bool myAnswerInProgress = false;
    // What the service reported about this card: why its answer stopped, or that its question
    // could not be transcribed. Shown with the answer.
    QString notice;
    // Made by an answer the service did not link to any question: no question comes to it.
    bool ownsUnknownAnswer = false;
    // Typed by the user rather than heard.
    bool isTyped = false;
    // A question about the screen: the picture sent, as saved beside the session's files
    // (empty when it could not be saved).
    bool isScreen = false;
    QString picture;
    // Every finished answer once the card has been rewritten, oldest first; `answer` is the one
    // shown, `shownVersion` its index. Empty for a card never rewritten.
    QStringList versions;
    int shownVersion = 0;
    // The rewrite being written, as its style's name; empty when none is.
    QString rewriting;
    // The question is still being heard: `question` holds what has come so far.
    bool questionInProgress = false;
    // The service's id of the audio the question was heard in, once known: the answer and the
    // transcription of that audio both come to this card, whatever arrives first.
    QString inputItemID;

    friend bool operator==(const QAPair&, const QAPair&) = default;
};

Q_DECLARE_METATYPE(QAPair)
