#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A message bus of the test's own (dbus-daemon), on a socket in a temporary folder, stopped by
// its PID when it goes. It knows no services to start, so a name nobody owns is
// ServiceUnknown, as on a desktop without that service.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};
