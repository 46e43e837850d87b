#pragma once

#include "audio/AudioTypes.h"
#include "settings/AppSettings.h"

#include <QColor>
#include <QList>
#include <QString>
#include <optional>

// The control bar's rules as plain functions of plain values: which items show and what they
// read. ControlBarModel gathers the inputs from the session and the settings.
namespace ControlBarLabels {

struct Inputs {
    bool sessionActive = false;
    bool hasLastRecording = false;
    bool hasLastTranscript = false;
    double sessionElapsed = 0;
    bool answering = false;
    std::optional<double> lastAnswerDuration;
    // The session's full cost line, and its dollars alone for the bar.
    QString costSummary;
    std::optional<double> sessionCost; // none when the model has no known price
    AppSettings::StreamSource streamSource = AppSettings::StreamSource::meetingOnly;
    AppSettings::Appearance appearance = AppSettings::Appearance::system;
    AppSettings::MeetingSource meetingSource = AppSettings::MeetingSource::systemOutput;
    QString tappedBundleID;
    // The output a running session hears (empty: none yet, or not an output).
    QString heardOutput;
    QString deviceUID;
    int meetingChannel = 1;
    int micChannel = 0;
    QString companyName;
    qsizetype contextFileCount = 0;
    QList<AudioInputDevice> devices;
};

struct State {
    QString startLabel;
    QString startCaption;
    QColor startColor;
    bool showFilesVisible = false;
    bool clockVisible = false;
    QString clockText;
    bool costVisible = false;
    QString costText;
    QString costHelp;
    bool answerTimerVisible = false;
    bool lastAnswerVisible = false;
    QString lastAnswerText;
    QString micMeterLabel;
    QString micMeterHelp;
    QString themeSymbol;
    QString meetingSourceLabel;
    QString micLabel;
    QString hearingCaption;
    QString hearingHelp;
    QString jobLabel;
    QString jobCaption;
    QString contextLabel;
    QString contextCaption;
    bool saveAudioEnabled = true;

    friend bool operator==(const State&, const State&) = default;
};

State compute(const Inputs& inputs);

// A name of 19 characters or more is cut to its first space-separated word.
QString shortenedName(const QString& name);
QString meetingSourceLabel(const Inputs& inputs);
QString micLabel(const Inputs& inputs);

} // namespace ControlBarLabels
