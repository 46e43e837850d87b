#include "app/ReviewCommand.h"

#include "session/SessionReview.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {
int refuse(const QString& path, const QString& why) {
    fprintf(stderr, "corvinel: %s: %s\n", qPrintable(path), qPrintable(why));
    return 1;
}
} // namespace

int runReviewCommand(const QString& eventLogPath) {
    const QFileInfo info(eventLogPath);
    if (!info.exists())
        return refuse(eventLogPath, QStringLiteral("no such file"));
    if (info.isDir())
        return refuse(eventLogPath, QStringLiteral("is a folder, not a session's event log"));
    QFile file(eventLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(eventLogPath, file.errorString());
    const QByteArray log = file.readAll();
    if (log.trimmed().isEmpty())
        return refuse(eventLogPath, QStringLiteral("is empty: there is no session to review"));
    const QString page = SessionReview::pagePath(eventLogPath);
    QSaveFile out(page);
    const QByteArray html = SessionReview::html(SessionReview::read(log, eventLogPath)).toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(html) != html.size() || !out.commit())
        return refuse(page, out.errorString());
    fputs((page + u'\n').toUtf8().constData(), stdout);
    return 0;
}
