#include "update/Appcast.h"

#include "update/Version.h"

#include <QXmlStreamReader>

namespace {

QString sparkleAttribute(const QXmlStreamAttributes& attributes, const QString& name) {
    return attributes.value(kSparkleNamespace, name).toString().trimmed();
}

void readEnclosure(const QXmlStreamAttributes& attributes, AppcastItem& item) {
    item.packageUrl = QUrl(attributes.value(QStringLiteral("url")).toString().trimmed());
    bool ok = false;
    const qint64 length = attributes.value(QStringLiteral("length")).toLongLong(&ok);
    item.packageLength = ok && length > 0 ? length : -1;
    item.packageType = attributes.value(QStringLiteral("type")).toString();
    item.edSignature = sparkleAttribute(attributes, QStringLiteral("edSignature")).toLatin1();
    // The item's own elements win over the enclosure's copies.
    if (const QString v = sparkleAttribute(attributes, QStringLiteral("version"));
        item.version.isEmpty())
        item.version = v;
    if (const QString v = sparkleAttribute(attributes, QStringLiteral("shortVersionString"));
        item.displayVersion.isEmpty())
        item.displayVersion = v;
    if (const QString v = sparkleAttribute(attributes, QStringLiteral("os")); item.os.isEmpty())
        item.os = v;
}

AppcastItem readItem(QXmlStreamReader& reader) {
    AppcastItem item;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        const bool sparkle = reader.namespaceUri() == kSparkleNamespace;
        const bool plain = reader.namespaceUri().isEmpty();
        if (name == QLatin1String("enclosure") && plain) {
            readEnclosure(reader.attributes(), item);
            reader.skipCurrentElement();
        } else if (name == QLatin1String("title") && plain) {
            item.title = reader.readElementText().trimmed();
        } else if (name == QLatin1String("description") && plain) {
            item.releaseNotes = reader.readElementText().trimmed();
        } else if (name == QLatin1String("pubDate") && plain) {
            item.published =
                QDateTime::fromString(reader.readElementText().trimmed(), Qt::RFC2822Date);
        } else if (name == QLatin1String("version") && sparkle) {
            item.version = reader.readElementText().trimmed();
        } else if (name == QLatin1String("shortVersionString") && sparkle) {
            item.displayVersion = reader.readElementText().trimmed();
        } else if (name == QLatin1String("releaseNotesLink") && sparkle) {
            item.releaseNotesLink = QUrl(reader.readElementText().trimmed());
        } else if (name == QLatin1String("os") && sparkle) {
            item.os = reader.readElementText().trimmed();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (item.displayVersion.isEmpty())
        item.displayVersion = item.version;
    return item;
}

} // namespace

Appcast Appcast::parse(const QByteArray& xml) {
    Appcast feed;
    QXmlStreamReader reader(xml);
    if (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("rss")) {
            reader.raiseError(QStringLiteral("it is not an RSS feed"));
        } else {
            while (reader.readNextStartElement()) {
                if (reader.name() != QLatin1String("channel")) {
                    reader.skipCurrentElement();
                    continue;
                }
                while (reader.readNextStartElement()) {
                    if (reader.name() == QLatin1String("item"))
                        feed.items.append(readItem(reader));
                    else
                        reader.skipCurrentElement();
                }
            }
        }
    }
    // Reading on to the end reports what is broken after the last element read.
    while (!reader.atEnd() && !reader.hasError())
        reader.readNext();
    if (reader.hasError()) {
        feed.items.clear();
        feed.error = QStringLiteral("The update feed could not be read: %1 (line %2).")
                         .arg(reader.errorString())
                         .arg(reader.lineNumber());
    }
    return feed;
}

std::optional<AppcastItem> Appcast::newestFor(const QString& os) const {
    std::optional<AppcastItem> newest;
    for (const AppcastItem& item : items) {
        if (item.version.isEmpty() || !item.packageUrl.isValid() || item.packageUrl.isEmpty())
            continue;
        if (!item.os.isEmpty() && item.os.compare(os, Qt::CaseInsensitive) != 0)
            continue;
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = item;
    }
    return newest;
}
