#pragma once

#include "update/PackageInstaller.h"

#include <QStringList>

#include <functional>

// Starts the program again from its file on disk, with the arguments it was started with, then
// ends this one. Both are read at startup: after an upgrade /proc/self/exe names the deleted
// old file, while the path read earlier now holds the new one.
class ProcessRelauncher : public Relauncher {
public:
    ProcessRelauncher();
    ProcessRelauncher(QString program, QStringList arguments, std::function<void()> quit);

    void relaunch() override;

private:
    QString m_program;
    QStringList m_arguments;
    std::function<void()> m_quit;
};
