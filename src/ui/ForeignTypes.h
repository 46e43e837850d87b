#pragma once

#include "context/JobContextModel.h"
#include "session/PairListModel.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "update/UpdateController.h"

#include <QtQml/qqml.h>

// The core's types as QML sees them, declared here so the core libraries stay free of QML.
// The composition root creates the objects and hands them to Main.qml.

struct ForeignSessionController {
    Q_GADGET
    QML_FOREIGN(SessionController)
    QML_NAMED_ELEMENT(SessionController)
    QML_UNCREATABLE("created by the application")
};

struct ForeignAppSettings {
    Q_GADGET
    QML_FOREIGN(AppSettings)
    QML_NAMED_ELEMENT(AppSettings)
    QML_UNCREATABLE("created by the application")
};

struct ForeignPairListModel {
    Q_GADGET
    QML_FOREIGN(PairListModel)
    QML_NAMED_ELEMENT(PairListModel)
    QML_UNCREATABLE("owned by the session controller")
};

struct ForeignJobContextModel {
    Q_GADGET
    QML_FOREIGN(JobContextModel)
    QML_NAMED_ELEMENT(JobContextModel)
    QML_UNCREATABLE("created by a view model")
};

struct ForeignUpdateController {
    Q_GADGET
    QML_FOREIGN(UpdateController)
    QML_NAMED_ELEMENT(UpdateController)
    QML_UNCREATABLE("created by the application")
};
