#include "ui/ControlBarLabels.h"

#include "session/CostModel.h"
#include "session/SessionController.h"
#include "settings/Graphemes.h"
#include "ui/Symbols.h"
#include "ui/Tones.h"

namespace ControlBarLabels {
namespace {

constexpr qsizetype kLongName = 19;
constexpr double kShortestAnswerWorthShowing = 3;

const AudioInputDevice* selectedDevice(const Inputs& inputs) {
    for (const AudioInputDevice& device : inputs.devices)
        if (device.uid == inputs.deviceUID)
            return &device;
    return nullptr;
}

QString channelSuffix(int channel) {
    return QStringLiteral(" ch ") + QString::number(channel + 1);
}

// "us.zoom.xos" → "Xos"
QString appLabel(const QString& bundleID) {
    QString last = bundleID.section(u'.', -1);
    if (!last.isEmpty())
        last[0] = last[0].toUpper();
    return last;
}

} // namespace

QString shortenedName(const QString& name) {
    if (Graphemes::count(name) < kLongName)
        return name;
    return name.section(u' ', 0, 0);
}

QString meetingSourceLabel(const Inputs& inputs) {
    switch (inputs.meetingSource) {
    case AppSettings::MeetingSource::systemOutput:
        // Which output matters when it is not the one the user expects (a headset); the bar
        // has room for its name alone, the tooltip says the rest.
        return inputs.heardOutput.isEmpty() ? QStringLiteral("This computer")
                                            : shortenedName(inputs.heardOutput);
    case AppSettings::MeetingSource::singleApp:
        return inputs.tappedBundleID.isEmpty() ? QStringLiteral("Pick an app")
                                               : appLabel(inputs.tappedBundleID);
    case AppSettings::MeetingSource::audioDevice: {
        const AudioInputDevice* device = selectedDevice(inputs);
        QString label = device ? shortenedName(device->name) : QStringLiteral("Device");
        if (inputs.meetingChannel >= 0)
            label += channelSuffix(inputs.meetingChannel);
        return label;
    }
    }
    return {};
}

QString micLabel(const Inputs& inputs) {
    const AudioInputDevice* device = selectedDevice(inputs);
    return (device ? shortenedName(device->name) : QStringLiteral("Default")) +
           channelSuffix(inputs.micChannel);
}

State compute(const Inputs& in) {
    State s;
    s.startLabel = in.sessionActive ? QStringLiteral("Stop") : QStringLiteral("Start");
    s.startCaption = (in.sessionActive ? Symbols::stop() : Symbols::play()) + u' ' + s.startLabel;
    s.startColor = in.sessionActive ? Tones::red() : Tones::accent();
    s.showFilesVisible = !in.sessionActive && (in.hasLastRecording || in.hasLastTranscript);

    s.clockVisible = in.sessionElapsed > 0;
    s.clockText = s.clockVisible ? SessionController::formatClock(in.sessionElapsed) : QString();
    s.costVisible = in.sessionActive && !in.costSummary.isEmpty();
    // The bar has room for the dollars only; the rest of the line waits in the tooltip.
    s.costText = !s.costVisible   ? QString()
                 : in.sessionCost ? CostModel::amount(*in.sessionCost)
                                  : QStringLiteral("—");
    s.costHelp = s.costVisible ? in.costSummary : QString();

    s.answerTimerVisible = in.answering;
    s.lastAnswerVisible = !in.answering && in.lastAnswerDuration &&
                          *in.lastAnswerDuration >= kShortestAnswerWorthShowing;
    s.lastAnswerText = s.lastAnswerVisible ? QStringLiteral("last ") +
                                                 SessionController::format(*in.lastAnswerDuration)
                                           : QString();

    const bool micSent = in.streamSource != AppSettings::StreamSource::meetingOnly;
    s.micMeterLabel = micSent ? QStringLiteral("Mic") : QStringLiteral("Mic⊘");
    s.micMeterHelp =
        micSent
            ? QStringLiteral("Mic audio is streamed to the model")
            : QStringLiteral("Mic is monitored and recorded locally, but not sent to the model");
    s.themeSymbol =
        in.appearance == AppSettings::Appearance::dark ? Symbols::moon() : Symbols::sun();

    s.meetingSourceLabel = meetingSourceLabel(in);
    s.micLabel = micLabel(in);
    s.hearingCaption = Symbols::speaker() + u' ' + s.meetingSourceLabel + QStringLiteral("  ") +
                       Symbols::micLive() + u' ' + s.micLabel;
    const QString heard =
        in.meetingSource == AppSettings::MeetingSource::systemOutput && !in.heardOutput.isEmpty()
            ? QStringLiteral("what plays on ") + in.heardOutput
            : s.meetingSourceLabel;
    s.hearingHelp = QStringLiteral("Hearing: ") + heard + QStringLiteral(". Your voice: ") +
                    s.micLabel + QStringLiteral(". Click to change.");

    s.jobLabel = in.companyName.isEmpty() ? QStringLiteral("Job") : in.companyName;
    s.jobCaption = Symbols::briefcase() + u' ' + s.jobLabel;
    s.contextLabel = in.contextFileCount > 0
                         ? QStringLiteral("Context (") + QString::number(in.contextFileCount) + u')'
                         : QStringLiteral("Context");
    s.contextCaption = Symbols::document() + u' ' + s.contextLabel;
    s.saveAudioEnabled = !in.sessionActive;
    return s;
}

} // namespace ControlBarLabels
