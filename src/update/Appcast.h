#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// One release in the feed, as the appcast describes it.
struct AppcastItem {
    QString title;
    QString version;           // sparkle:version, on the item or its enclosure: what is compared
    QString displayVersion;    // sparkle:shortVersionString, else the version
    QString releaseNotes;      // the item's description (may be HTML)
    QUrl releaseNotesLink;     // sparkle:releaseNotesLink
    QDateTime published;       // pubDate (RFC 2822); invalid when missing
    QString os;                // sparkle:os of the item or its enclosure; empty means any
    QUrl packageUrl;           // enclosure url
    qint64 packageLength = -1; // enclosure length in bytes; -1 when the feed gives none
    QString packageType;
    QByteArray edSignature; // base64, as the feed gives it; empty when unsigned
};

// A parsed feed, or the words that say why it could not be read.
struct Appcast {
    QList<AppcastItem> items;
    std::optional<QString> error;

    static Appcast parse(const QByteArray& xml);

    // The newest item meant for `os` ("linux") or for any system; nullopt when none is.
    std::optional<AppcastItem> newestFor(const QString& os) const;
};

inline const QString kSparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
