#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The scripted interview the demo plays: fixed texts, so every run and every screenshot shows
// the same cards.
namespace DemoScript {

struct Turn {
    QString question;
    QString answer;
    // Seconds the interviewer talks before the question's transcription arrives.
    double askSeconds = 2.0;
    // Seconds the candidate then talks (the answer timer and "My answer"); 0 for none.
    double replySeconds = 0;
    // Said to the transcriber while the candidate talks.
    QString myAnswer = {};
    // Named moments around this turn, for the screenshot hook.
    QString markWhileStreaming = {};
    QString markWhileHearing = {};
    QString markBeforeAsking = {};
    QString markWhenDone = {};
    // Typed by the candidate rather than asked; or, when `rewrite` names a style, the newest
    // answer rewritten that way (the turn's answer is the new version).
    bool typed = false;
    QString rewrite = {};
    // Asked about the screen, on the candidate's command.
    bool screen = false;
};

const QList<Turn>& interview();

// The update feed the demo answers "Check for Updates…" with: one release, `version`, for Linux,
// whose package would come from this computer (nothing is fetched from the network).
QByteArray appcast(const QString& version);

// The factor from CORVINEL_DEMO_SPEED (above 0; default 1): 4 plays the script four times as
// fast.
double speedFactor();

// Milliseconds between two streamed fragments: 30–60 ms, varying but the same every run.
int fragmentDelayMs(int index);

// The answer cut the way a model streams it: a word with its leading space per fragment.
QStringList fragments(const QString& answer);

} // namespace DemoScript
