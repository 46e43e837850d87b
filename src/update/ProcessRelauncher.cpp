#include "update/ProcessRelauncher.h"

#include "update/BinaryWatch.h"

#include <QCoreApplication>
#include <QProcess>

ProcessRelauncher::ProcessRelauncher()
    : ProcessRelauncher(BinaryWatch::runningExecutable(), QCoreApplication::arguments().mid(1),
                        [] { QCoreApplication::quit(); }) {}

ProcessRelauncher::ProcessRelauncher(QString program, QStringList arguments,
                                     std::function<void()> quit)
    : m_program(std::move(program)), m_arguments(std::move(arguments)), m_quit(std::move(quit)) {}

void ProcessRelauncher::relaunch() {
    // When the new process cannot start, this one stays: quitting would leave no window at all.
    if (!QProcess::startDetached(m_program, m_arguments)) {
        qWarning("Could not start %s again; Corvinel keeps running", qPrintable(m_program));
        return;
    }
    m_quit();
}
