#pragma once

#include "speech/MicTranscriberInterface.h"
#include "speech/SpeechEngine.h"

#include <QString>

// The locale identifier ("en_US") that speech recognition uses for a POSIX locale name such as
// "de_DE.UTF-8"; the C and POSIX locales count as en_US.
QString speechLocaleFromName(const QString& posixName);

// The process's locale for messages, from LC_ALL, LC_MESSAGES and LANG in that order.
QString currentSpeechLocale();

QString speechUnavailableText(const QString& locale);
QString speechNotInstalledText(const QString& locale);

// Whether on-device recognition can run for `locale` with `engine`.
MicTranscriberInterface::Availability speechAvailability(const SpeechEngine& engine,
                                                         const QString& locale);
