#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <map>
#include <optional>

// Points HOME and the XDG folders at a fresh temporary folder for the life of the object and
// restores the previous values afterwards. Every test that touches files uses one.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const { return path() + QStringLiteral("/config"); }
    QString dataHome() const { return path() + QStringLiteral("/data"); }

    // Sets (or with nullopt unsets) a variable until this object goes.
    void setEnv(const char* name, const std::optional<QByteArray>& value);

private:
    QTemporaryDir m_dir;
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

// Points every home/XDG variable at `root` and clears variables that would reach real
// services or keys. Used once per test process, before any Qt object exists.
void redirectHome(const QByteArray& root);
