#pragma once

#include <QString>

// Word error rate: the word-level edit distance over the reference's length, compared in
// lower case without punctuation.
double wordErrorRate(const QString& reference, const QString& hypothesis);
