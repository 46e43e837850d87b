#include "realtime/RealtimeEndpoint.h"

#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrlQuery>

namespace RealtimeEndpoint {
namespace {

bool isLoopbackHost(const QString& host) {
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

QString modelProblem(const QString& model) {
    if (model.size() > maxModelLength)
        return QStringLiteral("The model id is longer than %1 characters — choose a model in "
                              "Settings.")
            .arg(maxModelLength);
    for (const QChar c : model) {
        if (c.isSpace() || isControl(c))
            return QStringLiteral("The model id contains blanks or control characters — choose a "
                                  "model in Settings.");
    }
    return {};
}

QString maskedToken(const QString& token) {
    // A short token keeps no tail: four characters of it would be most of it.
    const QString tail = token.size() >= 12 ? token.right(4) : QString();
    return (token.startsWith(u"sk-") ? QStringLiteral("sk-") : QString()) + QChar(u'…') + tail;
}

} // namespace

Resolved url(const std::optional<QString>& override, const QString& model) {
    const QString base = override.value_or(defaultBaseUrl);
    QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"ws" && scheme != u"wss"))
        return {{}, QStringLiteral("Invalid OV_REALTIME_URL: ") + base};
    if (scheme == u"ws" && !isLoopbackHost(url.host()))
        return {{},
                QStringLiteral("OV_REALTIME_URL must use wss:// for a server on another machine "
                               "(ws:// would send the API key unencrypted): ") +
                    base};
    if (const QString problem = modelProblem(model); !problem.isEmpty())
        return {{}, problem};
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("model"), model);
    url.setQuery(query);
    return {url, {}};
}

std::optional<QString> overrideFromEnvironment() {
    if (!qEnvironmentVariableIsSet("OV_REALTIME_URL"))
        return std::nullopt;
    return qEnvironmentVariable("OV_REALTIME_URL");
}

Authorization authorization(const QString& apiKey) {
    const QString key = apiKey.trimmed();
    if (key.isEmpty())
        return {{}, noKeyMessage};
    if (key.size() > maxKeyLength)
        return {{},
                QStringLiteral("The API key is longer than any OpenAI key (over %1 characters) — "
                               "paste it again in Settings.")
                    .arg(maxKeyLength)};
    for (const QChar c : key) {
        if (isControl(c) || c.isSpace() || c.unicode() > 0x7e)
            return {{},
                    QStringLiteral(
                        "The API key contains invalid characters — paste it again in Settings.")};
    }
    return {QByteArrayLiteral("Bearer ") + key.toUtf8(), {}};
}

std::optional<int> refusedUpgradeStatus(const QString& socketErrorText) {
    static const QRegularExpression status(QStringLiteral("status code:? *(\\d{3})"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = status.match(socketErrorText);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

std::optional<int> rejectedKeyStatus(const QString& socketErrorText) {
    const std::optional<int> code = refusedUpgradeStatus(socketErrorText);
    if (code != 401 && code != 403)
        return std::nullopt;
    return code;
}

QString rejectedKeyMessage(int httpStatus) {
    return QStringLiteral("The OpenAI API rejected the key (HTTP ") + QString::number(httpStatus) +
           QStringLiteral(") — check it in Settings.");
}

QString httpStatusText(int httpStatus) {
    // Qt words the status with the server's own phrase, which may be anything; these are the
    // ones a user can look up.
    static const QHash<int, QString> phrases{
        {400, QStringLiteral("Bad Request")},
        {404, QStringLiteral("Not Found")},
        {405, QStringLiteral("Method Not Allowed")},
        {408, QStringLiteral("Request Timeout")},
        {410, QStringLiteral("Gone")},
        {426, QStringLiteral("Upgrade Required")},
        {429, QStringLiteral("Too Many Requests")},
        {500, QStringLiteral("Internal Server Error")},
        {502, QStringLiteral("Bad Gateway")},
        {503, QStringLiteral("Service Unavailable")},
        {504, QStringLiteral("Gateway Timeout")},
    };
    const QString phrase = phrases.value(httpStatus);
    return phrase.isEmpty() ? QString::number(httpStatus)
                            : QString::number(httpStatus) + u' ' + phrase;
}

QString refusedUpgradeMessage(int httpStatus) {
    return QStringLiteral("The Realtime service refused the connection (HTTP ") +
           httpStatusText(httpStatus) +
           QStringLiteral(") — check OV_REALTIME_URL and the model name.");
}

QString maskSecrets(const QString& text, const QString& apiKey) {
    QString result = text;
    const QString key = apiKey.trimmed();
    // Shorter than any real key, a literal replacement would also hit ordinary words.
    if (key.size() >= 8)
        result.replace(key, maskedToken(key));
    static const QRegularExpression token(QStringLiteral("\\bsk-[A-Za-z0-9_-]{8,}"));
    QRegularExpressionMatchIterator matches = token.globalMatch(result);
    QString masked;
    qsizetype from = 0;
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        masked += QStringView(result).mid(from, match.capturedStart() - from);
        masked += maskedToken(match.captured());
        from = match.capturedEnd();
    }
    if (from == 0)
        return result;
    masked += QStringView(result).mid(from);
    return masked;
}

QString closeReasonText(int closeCode, const QString& reason) {
    if (!reason.isEmpty())
        return reason;
    return QStringLiteral("code ") + QString::number(closeCode);
}

} // namespace RealtimeEndpoint
