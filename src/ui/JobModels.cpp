#include "ui/JobModels.h"

#include "context/JobContextModel.h"
#include "session/SessionController.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>

namespace {

std::optional<QString> clipboardText() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || clipboard->text().isEmpty())
        return std::nullopt;
    return clipboard->text();
}

} // namespace

JobContextModel* renewJobContextModel(JobContextModel* current, AppSettings* settings,
                                      SessionController* session, QObject* parent) {
    if (current)
        current->deleteLater();
    if (!settings || !session)
        return nullptr;
    QPointer<SessionController> target(session);
    auto* job = new JobContextModel(
        *settings,
        [target] {
            if (target)
                target->applyInstructionsLive();
        },
        &clipboardText, parent);
    job->setSessionActive(session->isSessionActive());
    QObject::connect(session, &SessionController::isSessionActiveChanged, job,
                     [job, target] { job->setSessionActive(target->isSessionActive()); });
    return job;
}
