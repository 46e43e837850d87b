#include "support/FakeSession.h"

FakeSession::FakeSession(const QString& configDir, const QString& sessionDir)
    : settings(configDir + QStringLiteral("/Corvinel/Corvinel.conf")) {
    controller = std::make_unique<SessionController>(
        SessionComponents{settings, engine, client, mic, recordings, apps, permissions, &inhibitor,
                          &revealer, clock, sessionDir});
}
