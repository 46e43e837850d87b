#pragma once

#include <optional>
#include <string>
#include <string_view>

// The plain text of an RTF document. Only the standard library and iconv, so the fuzzer can
// build it on its own.
//
// Reads groups and control words, \par and \line as line feeds, \tab, \'hh bytes in the
// code page of the document (\ansicpg, or the charset of the current font), \uN with \ucN
// fallback skipping, escaped \\ \{ \}, and skips the destinations that hold no document text
// (font, colour and style tables, document info, pictures, every \* destination, ...).
//
// Malformed input is read as far as it makes sense: unbalanced braces, a truncated file,
// overlong words and huge numbers are tolerated. Work and memory grow linearly with the
// input; nothing recurses. Nothing (nullopt) when the bytes do not start as RTF ("{\rtf").
std::optional<std::u16string> readRtfText(std::string_view rtf);
