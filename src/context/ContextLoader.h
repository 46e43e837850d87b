#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// Turns the user's chosen documents (.txt, .md, .pdf, .rtf and any other text file) into one
// bounded block of plain text for the model's instructions. Stateless and safe to call from
// any thread; it reads files, so callers keep it off the UI thread.
namespace ContextLoader {

// The most characters (grapheme clusters) one file contributes.
constexpr qsizetype kCharacterLimit = 24000;
// Appended where a text was cut at the limit.
QString truncationMarker();

struct Result {
    QString text;      // "----- name -----\n" + text per contributing file, joined by "\n\n"
    QStringList names; // the last path component of each contributing file, in the given order

    friend bool operator==(const Result&, const Result&) = default;
};

// Files that yield no text (unreadable, undecodable, empty) are skipped.
Result load(const QList<QUrl>& urls);

// The cleaned and bounded text of one file, or nothing when it cannot be read as its type.
std::optional<QString> extract(const QUrl& url);

// Normalises line breaks and white space, then keeps at most `limit` characters.
QString clean(const QString& text, qsizetype limit);

} // namespace ContextLoader
