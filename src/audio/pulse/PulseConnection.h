#pragma once

#include "audio/pulse/PulseRecords.h"

#include <QString>
#include <memory>
#include <optional>
#include <variant>

// One connection to the sound server, served by its own event thread. Every query blocks the
// caller until the server answers (milliseconds on a live server), with a time limit so a
// frozen server cannot hang the caller. A context that has failed is never reused: the next
// query replaces it with a fresh one, so a restarted server is picked up by itself.
// Safe to use from several threads at once.
class PulseConnection {
public:
    // The identifier this application gives the server, and by which it leaves itself out of
    // the application listings.
    static const QString ownApplicationID;

    // `server` empty: the address the client library finds itself (PULSE_SERVER, client.conf).
    explicit PulseConnection(const QString& server = {});
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // The connection the class-level listings share, made on first use.
    static PulseConnection& shared();

    // Connects unless connected. Queries call it themselves.
    std::optional<PulseError> connect();
    bool isConnected() const;
    // The server's number for this connection's client; absent while not connected.
    std::optional<uint32_t> clientIndex() const;

    std::variant<PulseServerInfo, PulseError> serverInfo();
    std::variant<QList<PulseSource>, PulseError> sources();
    std::variant<QList<PulseSink>, PulseError> sinks();
    std::variant<QList<PulseSinkInput>, PulseError> sinkInputs();
    std::variant<QList<PulseSourceOutput>, PulseError> sourceOutputs();
    std::variant<QList<PulseClient>, PulseError> clients();

    // How long a connection attempt and a query may take before the server counts as frozen.
    static constexpr int connectTimeoutMs = 3000;
    static constexpr int queryTimeoutMs = 2000;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
