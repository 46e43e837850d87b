#pragma once

#include <QString>

// User-perceived characters (extended grapheme clusters), the unit in which texts are counted
// and cut: an emoji sequence or a letter with its combining accents is one character.
namespace Graphemes {

qsizetype count(const QString& text);

// The UTF-16 length of the first `limit` characters of `text`, or -1 when it holds no more
// than `limit` characters (nothing needs to be cut).
qsizetype prefixLength(const QString& text, qsizetype limit);

} // namespace Graphemes
