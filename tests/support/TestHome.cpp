#include "support/TestHome.h"

#include <QDir>
#include <cstdlib>
#include <sys/stat.h>

void redirectHome(const QByteArray& root) {
    const char* folders[][2] = {{"HOME", ""},
                                {"XDG_CONFIG_HOME", "/config"},
                                {"XDG_DATA_HOME", "/data"},
                                {"XDG_CACHE_HOME", "/cache"},
                                {"XDG_STATE_HOME", "/state"},
                                {"XDG_RUNTIME_DIR", "/runtime"}};
    for (const auto& [name, suffix] : folders) {
        const QByteArray dir = root + suffix;
        ::mkdir(dir.constData(), 0700);
        ::setenv(name, dir.constData(), 1);
    }
    for (const char* name : {"OPENAI_API_KEY", "OV_REALTIME_URL", "OV_TAP_CLOCK_NAME",
                             "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        ::unsetenv(name);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

TestHome::TestHome() {
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const char* old = std::getenv(name);
        m_saved[name] = old ? std::optional<QByteArray>(old) : std::nullopt;
    }
    redirectHome(QFile::encodeName(m_dir.path()));
}

TestHome::~TestHome() {
    for (const auto& [name, value] : m_saved) {
        if (value)
            ::setenv(name.constData(), value->constData(), 1);
        else
            ::unsetenv(name.constData());
    }
}

void TestHome::setEnv(const char* name, const std::optional<QByteArray>& value) {
    if (!m_saved.contains(name)) {
        const char* old = std::getenv(name);
        m_saved[name] = old ? std::optional<QByteArray>(old) : std::nullopt;
    }
    if (value)
        ::setenv(name, value->constData(), 1);
    else
        ::unsetenv(name);
}
