#pragma once

#include <QString>

// User-perceived characters: what a person counts, and where text may be cut safely.
qsizetype graphemeCount(const QString& text);
