#pragma once

#include "realtime/RealtimeClientInterface.h"

#include <QList>
#include <QString>

// Which earlier questions and answers a fresh model session is given, so a long meeting never
// floods it.
namespace HistorySeeding {
using Pair = RealtimeClientInterface::HistoryPair;

constexpr int pairLimit = 12;
constexpr int charBudget = 8000;

// Characters as the user perceives them (extended grapheme clusters).
int graphemeCount(const QString& text);

// The newest pairs that fit, oldest first: at most `limit`, walked from the newest while the
// cost of each (question plus answer) stays below the budget left.
QList<Pair> select(const QList<Pair>& history, int limit = pairLimit, int budget = charBudget);
} // namespace HistorySeeding
