#include "speech/SpeechAvailability.h"

#include <QLocale>

QString speechLocaleFromName(const QString& posixName) {
    // "de_DE.UTF-8@euro" → "de_DE"
    QString name = posixName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX"))
        return QStringLiteral("en_US");
    const QLocale locale(name);
    // QLocale maps names it does not know to C; keep the user's own spelling then.
    if (locale.language() == QLocale::C)
        return name;
    return locale.name();
}

QString currentSpeechLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(variable);
        if (!value.isEmpty())
            return speechLocaleFromName(QString::fromLocal8Bit(value));
    }
    return speechLocaleFromName(QString());
}

QString speechUnavailableText(const QString& locale) {
    return QStringLiteral("Speech recognition is unavailable for ") + locale + QStringLiteral(".");
}

QString speechNotInstalledText(const QString& locale) {
    return QStringLiteral("On-device speech recognition is not installed for ") + locale +
           QStringLiteral(". Install the Debian package pocketsphinx-en-us.");
}

MicTranscriberInterface::Availability speechAvailability(const SpeechEngine& engine,
                                                         const QString& locale) {
    using Availability = MicTranscriberInterface::Availability;
    switch (engine.modelFor(locale)) {
    case SpeechEngine::ModelState::installed:
        return Availability::ready();
    case SpeechEngine::ModelState::notInstalled:
        return Availability::unsupported(speechNotInstalledText(locale));
    case SpeechEngine::ModelState::unsupportedLanguage:
        break;
    }
    return Availability::unsupported(speechUnavailableText(locale));
}
