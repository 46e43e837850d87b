#include "app/ReviewCommand.h"

#include "session/SessionReview.h"

#include <cstdio>

int runReviewCommand(const QString& eventLogPath) {
    const SessionReview::Written page = SessionReview::writePage(eventLogPath);
    if (!page.error.isEmpty()) {
        fprintf(stderr, "corvinel: %s: %s\n", qPrintable(eventLogPath), qPrintable(page.error));
        return 1;
    }
    fputs((page.path + u'\n').toUtf8().constData(), stdout);
    return 0;
}
