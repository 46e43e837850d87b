#include "ui/FeedFingerprint.h"

#include "settings/Graphemes.h"

FeedFingerprint::FeedFingerprint(QObject* parent) : QObject(parent) {}

QString FeedFingerprint::of(const QList<QAPair>& pairs) {
    if (pairs.isEmpty())
        return QStringLiteral("0");
    const QAPair& last = pairs.constLast();
    return QStringLiteral("%1-%2-%3-%4")
        .arg(pairs.size())
        .arg(Graphemes::count(last.question))
        .arg(Graphemes::count(last.answer))
        .arg(last.isComplete ? QStringLiteral("true") : QStringLiteral("false"));
}

void FeedFingerprint::setPairs(PairListModel* pairs) {
    if (m_pairs == pairs)
        return;
    if (m_pairs)
        m_pairs->disconnect(this);
    m_pairs = pairs;
    if (pairs) {
        connect(pairs, &QAbstractItemModel::rowsInserted, this, &FeedFingerprint::refresh);
        connect(pairs, &QAbstractItemModel::rowsRemoved, this, &FeedFingerprint::refresh);
        connect(pairs, &QAbstractItemModel::modelReset, this, &FeedFingerprint::refresh);
        // Only the last card counts; a delta streaming into it is the common case.
        connect(pairs, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex&, const QModelIndex& bottomRight) {
                    if (m_pairs && bottomRight.row() == m_pairs->count() - 1)
                        refresh();
                });
    }
    emit pairsChanged();
    refresh();
}

void FeedFingerprint::refresh() {
    QString value = m_pairs ? of(m_pairs->pairs()) : QStringLiteral("0");
    if (value == m_value)
        return;
    m_value = std::move(value);
    emit valueChanged();
}

bool FeedFingerprint::grew(const QString& before, const QString& after) {
    struct Parts {
        qsizetype count = 0, question = 0, answer = 0;
    };
    auto parse = [](const QString& text) {
        const QStringList fields = text.split(u'-');
        Parts parts;
        parts.count = fields.value(0).toLongLong();
        parts.question = fields.value(1).toLongLong();
        parts.answer = fields.value(2).toLongLong();
        return parts;
    };
    const Parts a = parse(before);
    const Parts b = parse(after);
    if (b.count != a.count)
        return b.count > a.count;
    return b.question > a.question || b.answer > a.answer;
}
