#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

// Plain copies of what the sound server reports, taken on its thread and handed out whole, so
// that the listings can be computed (and tested) without the server's own types.

// Text properties of a client or stream ("application.id" → "us.zoom.Zoom").
using PulseProperties = QHash<QString, QString>;

struct PulseServerInfo {
    QString defaultSinkName;
    QString defaultSourceName;
    QString serverName;
};

struct PulseSource {
    uint32_t index = 0;
    QString name;
    QString description;
    int channels = 0;
    uint32_t rate = 0;
    // The sink this source monitors; absent for real inputs.
    std::optional<uint32_t> monitorOfSink;
};

// An output (a sink), with the source that is its monitor.
struct PulseSink {
    uint32_t index = 0;
    QString name;
    QString description;
    QString monitorSourceName;
    uint32_t monitorSource = 0;
};

struct PulseSinkInput {
    uint32_t index = 0;
    std::optional<uint32_t> client;
    uint32_t sink = 0;
    bool corked = false;
    PulseProperties properties;
};

// A record stream, with the source it records.
struct PulseSourceOutput {
    uint32_t index = 0;
    std::optional<uint32_t> client;
    uint32_t source = 0;
    PulseProperties properties;
};

struct PulseClient {
    uint32_t index = 0;
    QString name;
    PulseProperties properties;
    // The server part that made the client: "protocol-native.c" for a program, a module's
    // file for the server's own ("module-systemd-login.c").
    QString driver;
};

// Why the sound server could not answer, with the text the user sees.
struct PulseError {
    enum class Kind {
        serverAbsent,      // nothing answers at the address
        serverGone,        // the connection broke after it had worked
        serverUnresponsive // the server accepted but did not answer in time
    };
    Kind kind = Kind::serverAbsent;
    QString description;
    friend bool operator==(const PulseError&, const PulseError&) = default;
};
