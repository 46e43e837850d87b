#include "realtime/RealtimeEndpoint.h"

#include <QRegularExpression>
#include <QUrlQuery>

namespace RealtimeEndpoint {

Resolved url(const std::optional<QString>& override, const QString& model) {
    const QString base = override.value_or(defaultBaseUrl);
    QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"ws" && scheme != u"wss"))
        return {{}, QStringLiteral("Invalid OV_REALTIME_URL: ") + base};
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
    for (const QChar c : key) {
        if (c.category() == QChar::Other_Control)
            return {{},
                    QStringLiteral(
                        "The API key contains invalid characters — paste it again in Settings.")};
    }
    return {QByteArrayLiteral("Bearer ") + key.toUtf8(), {}};
}

std::optional<int> rejectedKeyStatus(const QString& socketErrorText) {
    static const QRegularExpression status(QStringLiteral("status code:? *(\\d{3})"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = status.match(socketErrorText);
    if (!match.hasMatch())
        return std::nullopt;
    const int code = match.captured(1).toInt();
    if (code != 401 && code != 403)
        return std::nullopt;
    return code;
}

QString rejectedKeyMessage(int httpStatus) {
    return QStringLiteral("The OpenAI API rejected the key (HTTP ") + QString::number(httpStatus) +
           QStringLiteral(") — check it in Settings.");
}

QString closeReasonText(int closeCode, const QString& reason) {
    if (!reason.isEmpty())
        return reason;
    return QStringLiteral("code ") + QString::number(closeCode);
}

} // namespace RealtimeEndpoint
