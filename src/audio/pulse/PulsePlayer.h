#pragma once

#include <QString>
#include <optional>
#include <vector>

// Plays one short sound on the sound server's default output, with a connection and an event
// thread of its own, and returns once the server has played all of it. Meant for test tones
// and cues of a second or two, not for streams.
class PulsePlayer {
public:
    // `server` empty: the address the client library finds itself (PULSE_SERVER, client.conf).
    explicit PulsePlayer(QString streamName, QString server = {});

    // Plays `samples` (interleaved float32, `channels` channels at `sampleRate`) and blocks
    // until the server has drained them. Returns the server's reason when it could not (no
    // server, a failed stream, or no progress within `timeoutMs` beyond the sound's own
    // length); nothing when everything was played. Safe to call from any one thread at a time.
    std::optional<QString> play(const std::vector<float>& samples, int sampleRate, int channels,
                                int timeoutMs = 3000);

private:
    QByteArray m_streamName;
    QByteArray m_server;
};
