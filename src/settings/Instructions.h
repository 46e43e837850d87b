#pragma once

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
};

// The full instructions text sent with every session configuration.
QString assembleInstructions(const InstructionsInputs& inputs);
