#pragma once

#include <QList>
#include <QObject>

// The connections a view model makes to an object it shows, ended together when that object
// is replaced (or the view model goes).
class Wiring {
public:
    Wiring() = default;
    ~Wiring() { clear(); }
    Wiring(const Wiring&) = delete;
    Wiring& operator=(const Wiring&) = delete;

    void add(const QMetaObject::Connection& connection) { m_connections.append(connection); }
    void clear() {
        for (const QMetaObject::Connection& connection : std::as_const(m_connections))
            QObject::disconnect(connection);
        m_connections.clear();
    }

private:
    QList<QMetaObject::Connection> m_connections;
};
