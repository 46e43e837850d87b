#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// Where the client connects and how it introduces itself. Every failure is a user-facing text.
namespace RealtimeEndpoint {

inline const QString defaultBaseUrl = QStringLiteral("wss://api.openai.com/v1/realtime");

struct Resolved {
    QUrl url;      // valid when `error` is empty
    QString error; // "Invalid OV_REALTIME_URL: …", "The model id …"
};

inline constexpr qsizetype maxModelLength = 200;
inline constexpr qsizetype maxKeyLength = 400;

// `override` is the value of OV_REALTIME_URL when set. The query becomes exactly model=…
// Plain ws:// is accepted only to this machine: anywhere else the key would cross the network
// in clear text. A model id no real model has (too long, blanks or control characters inside)
// is refused here rather than sent into a request that fails without saying why.
Resolved url(const std::optional<QString>& override, const QString& model);
// Reads OV_REALTIME_URL from the process environment now.
std::optional<QString> overrideFromEnvironment();

struct Authorization {
    QByteArray header; // the Authorization value, "Bearer …"; empty when `error` is set
    QString error;
};

// The key as stored may carry the newline it was pasted with; a control character, a blank or a
// non-ASCII character inside it would corrupt the request header, and no key is longer than
// `maxKeyLength`, so such a key is refused before anything is sent.
Authorization authorization(const QString& apiKey);

inline const QString noKeyMessage =
    QStringLiteral("No API key set — open Settings and paste your OpenAI key.");

// The HTTP status of a refused upgrade as Qt 6.4 words it in the socket's error text.
std::optional<int> refusedUpgradeStatus(const QString& socketErrorText);
// The same, when it is one that means the key is wrong (401 or 403).
std::optional<int> rejectedKeyStatus(const QString& socketErrorText);
QString rejectedKeyMessage(int httpStatus);
// "404 Not Found": the code with its standard reason phrase, when it has a common one.
QString httpStatusText(int httpStatus);
// A refusal that waiting will not cure: the address or the model is wrong.
QString refusedUpgradeMessage(int httpStatus);

// `text` with `apiKey` and anything shaped like an OpenAI key ("sk-…") masked to its last four
// characters ("sk-…abcd"), so server echoes of the key never reach a log or the screen.
QString maskSecrets(const QString& text, const QString& apiKey);

// "code N" when the server gave no reason.
QString closeReasonText(int closeCode, const QString& reason);

} // namespace RealtimeEndpoint
