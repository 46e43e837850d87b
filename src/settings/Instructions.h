#pragma once

#include "settings/AppSettings.h"
#include "settings/Interviewer.h"

#include <QString>

// What the model's instructions are built from.
struct InstructionsInputs {
    QString systemPrompt;
    QString companyName;
    QString roleTitle;
    QString jobDescription;
    Panel interviewers;
    QString contextText;
    // The answer style. Both have defaults, so a caller that sets no style need not name one.
    AppSettings::AnswerLength answerLength = AppSettings::AnswerLength::normal;
    // A language's English name; empty for the interviewer's own language.
    QString answerLanguage = QString();
};

// The full instructions text sent with every session configuration. The answer style's defaults
// add nothing to it.
QString assembleInstructions(const InstructionsInputs& inputs);
