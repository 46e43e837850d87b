#include "update/FeedAddress.h"

#include <QHostAddress>

namespace {

bool isLoopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

UpdateAddress UpdateAddress::check(const QString& text, const QString& what) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (text.trimmed().isEmpty() || !url.isValid() || url.host().isEmpty())
        return {{}, QStringLiteral("The %1 address \"%2\" is not a web address.").arg(what, text)};
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {url, std::nullopt};
    if (scheme == QLatin1String("http") && isLoopback(url.host()))
        return {url, std::nullopt};
    return {{},
            QStringLiteral("The %1 address \"%2\" was refused: updates are only fetched over "
                           "https, so nobody on the way can change them.")
                .arg(what, text)};
}

UpdateAddress UpdateBuild::feed() {
    const QString configured = qEnvironmentVariable("OV_APPCAST_URL");
    return UpdateAddress::check(configured.isEmpty() ? QStringLiteral(CORVINEL_APPCAST_URL)
                                                     : configured,
                                QStringLiteral("update feed"));
}

QByteArray UpdateBuild::publicKey() {
    return QByteArrayLiteral(CORVINEL_UPDATE_PUBLIC_KEY);
}

QString UpdateBuild::version() {
    return QStringLiteral(CORVINEL_VERSION);
}
