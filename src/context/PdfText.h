#pragma once

#include <QString>
#include <optional>

// The text of a PDF file: each page's text in page order, each followed by one line feed;
// pages without text are left out. Nothing when the file cannot be opened (missing, not a
// PDF, locked by a password).
std::optional<QString> readPdfText(const QString& path);
