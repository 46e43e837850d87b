#include "context/ContextLoader.h"

#include "context/PdfText.h"
#include "context/RtfReader.h"
#include "settings/Graphemes.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

namespace ContextLoader {

namespace {

std::optional<QByteArray> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// UTF-8 with other characters in it, cut off inside its last one: no 8-bit text.
bool isCutUtf8(const QByteArray& bytes) {
    for (qsizetype cut = 1; cut <= 3 && cut < bytes.size(); ++cut) {
        const auto lead = static_cast<unsigned char>(bytes[bytes.size() - cut]);
        if (lead < 0xC0)
            continue;
        const QByteArray whole = bytes.chopped(cut);
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(whole);
        return !decoder.hasError() && text.size() < whole.size();
    }
    return false;
}

std::optional<QString> readPlainText(const QString& path) {
    const std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    // Stateless: a sequence cut off at the end of the file is an error, not pending input.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(*bytes);
    if (!decoder.hasError())
        return text;
    if (isCutUtf8(*bytes))
        return std::nullopt;
    // Not UTF-8: most likely a document saved by an older Windows editor, whose 8-bit encoding
    // also reads every Latin-1 file the same way.
    QStringDecoder legacy("windows-1252", QStringConverter::Flag::Stateless);
    if (!legacy.isValid())
        return std::nullopt;
    text = legacy.decode(*bytes);
    if (legacy.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> readRtf(const QString& path) {
    const std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    const std::optional<std::u16string> text =
        readRtfText(std::string_view(bytes->constData(), size_t(bytes->size())));
    if (!text)
        return std::nullopt;
    return QString::fromStdU16String(*text);
}

std::optional<QString> rawText(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("pdf"))
        return readPdfText(path);
    if (extension == QLatin1String("rtf"))
        return readRtf(path);
    return readPlainText(path);
}

} // namespace

QString truncationMarker() {
    return QStringLiteral("\n[\u2026truncated]");
}

QString clean(const QString& text, qsizetype limit) {
    static const QRegularExpression spacesAndTabs(QStringLiteral("[ \\t]+"));
    static const QRegularExpression blankLines(QStringLiteral("\\n{3,}"));
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(spacesAndTabs, QStringLiteral(" "));
    result.replace(blankLines, QStringLiteral("\n\n"));
    result = result.trimmed();
    const qsizetype cut = Graphemes::prefixLength(result, std::max<qsizetype>(limit, 0));
    if (cut >= 0) {
        result.truncate(cut);
        result += truncationMarker();
    }
    return result;
}

std::optional<QString> extract(const QUrl& url) {
    if (!url.isLocalFile())
        return std::nullopt;
    const std::optional<QString> text = rawText(url.toLocalFile());
    if (!text)
        return std::nullopt;
    QString cleaned = clean(*text, kCharacterLimit);
    if (cleaned.isEmpty())
        return std::nullopt;
    return cleaned;
}

Result load(const QList<QUrl>& urls) {
    Result result;
    QStringList sections;
    for (const QUrl& url : urls) {
        const std::optional<QString> text = extract(url);
        if (!text)
            continue;
        const QString name = QFileInfo(url.toLocalFile()).fileName();
        result.names.append(name);
        sections.append(QStringLiteral("----- ") + name + QStringLiteral(" -----\n") + *text);
    }
    result.text = sections.join(QStringLiteral("\n\n"));
    return result;
}

} // namespace ContextLoader
