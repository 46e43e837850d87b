#include "support/FakeSession.h"

FakeSession::FakeSession(const QString& configDir, const QString& sessionDir,
                         std::unique_ptr<Clock> realClock)
    : settings(configDir + QStringLiteral("/Corvinel/Corvinel.conf")),
      realClock(std::move(realClock)) {
    // The first-launch walkthrough is a window of its own that would sit over every test's
    // main window; the tests of the walkthrough clear this.
    settings.setHasCompletedOnboarding(true);
    Clock& timers = this->realClock ? *this->realClock : static_cast<Clock&>(clock);
    controller = std::make_unique<SessionController>(
        SessionComponents{settings, engine, client, mic, recordings, apps, permissions, &inhibitor,
                          &revealer, timers, sessionDir});
}
