#pragma once

#include <QString>

// `corvinel --review FILE.events.jsonl`: writes the review page of a past session beside its
// event log and prints the page's path; a file that is missing, a folder or empty says so on
// stderr. Returns the exit status.
int runReviewCommand(const QString& eventLogPath);
