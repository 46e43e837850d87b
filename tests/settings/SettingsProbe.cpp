// Reads or writes every setting in a process of its own, so tests see what a relaunch sees.
//   settings_probe dump        prints every property as one JSON object
//   settings_probe write-all   assigns a non-default value to every property, then quits
#include "settings/AppSettings.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaProperty>
#include <QTextStream>
#include <QTimer>

namespace {
QJsonValue toJson(const QMetaProperty& property, const QVariant& value) {
    if (property.isEnumType())
        return QString::fromLatin1(property.enumerator().valueToKey(value.toInt()));
    if (value.canConvert<Panel>() && value.metaType() == QMetaType::fromType<Panel>()) {
        QJsonArray array;
        for (const Interviewer& member : value.value<Panel>())
            array.append(member.toJson());
        return array;
    }
    return QJsonValue::fromVariant(value);
}

void writeAll(AppSettings& s) {
    s.setApiKey(QStringLiteral("  sk-probe-key \n"));
    s.setHasCompletedOnboarding(true);
    s.setModel(QStringLiteral("gpt-realtime-1.5"));
    s.setTranscribeModel(QStringLiteral("whisper-1"));
    s.setDeviceUID(QStringLiteral("alsa_input.usb-Focusrite, 4ch"));
    s.setMicChannel(2);
    s.setMeetingChannel(-1);
    s.setSaveAudio(true);
    s.setAlwaysOnTop(false);
    s.setVadThreshold(0.1 + 0.2);
    s.setPrefixPaddingMs(0);
    s.setSilenceDurationMs(1234);
    s.setSystemPrompt(QStringLiteral("Line one\nline \"two\", with; odd = chars\t[x] @start"));
    s.setContextText(QStringLiteral("@ByteArray(not really)\r\nmore"));
    s.setContextFileNames({QStringLiteral("cv.pdf")});
    s.setMeetingSource(AppSettings::MeetingSource::audioDevice);
    s.setTappedBundleID(QStringLiteral("us.zoom.Zoom"));
    s.setStreamSource(AppSettings::StreamSource::both);
    s.setAppearance(AppSettings::Appearance::dark);
    s.setTranscribeMyAnswers(true);
    s.setFollowUpWindow(12.0);
    s.setAnswerSpeed(AppSettings::AnswerSpeed::thorough);
    s.setAnswerLength(AppSettings::AnswerLength::brief);
    s.setAnswerLanguage(QStringLiteral("Japanese"));
    s.setFontSize(17.5);
    s.setFontFamily(QStringLiteral("__mono"));
    s.setInterviewers({Interviewer{QUuid(QStringLiteral("{3F2504E0-4F89-11D3-9A0C-0305E82C3301}")),
                                   QStringLiteral("Åsa Lind"), QStringLiteral("CTO, Ops")},
                       Interviewer{QUuid(QStringLiteral("{00000000-0000-0000-0000-000000000001}")),
                                   QString(), QStringLiteral("Head of Talent")}});
    s.setCompanyName(QStringLiteral(" "));
    s.setRoleTitle(QStringLiteral("Staff Engineer"));
    s.setJobDescription(QStringLiteral("We build things.\n\n- Rust, C++"));
    s.setReconnectMinutes(7);
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString mode = app.arguments().value(1);
    // As in the app: the shared instance, never destroyed, assigned to while the event loop
    // runs and left as it quits.
    AppSettings& settings = AppSettings::shared();
    if (mode == QLatin1String("write-all")) {
        QTimer::singleShot(0, &app, [&] {
            writeAll(settings);
            QCoreApplication::quit();
        });
        return app.exec();
    }
    if (mode != QLatin1String("dump"))
        return 2;
    QJsonObject out;
    const QMetaObject* meta = settings.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        out.insert(QString::fromLatin1(property.name()),
                   toJson(property, property.read(&settings)));
    }
    QTextStream(stdout) << QJsonDocument(out).toJson(QJsonDocument::Compact);
    return 0;
}
