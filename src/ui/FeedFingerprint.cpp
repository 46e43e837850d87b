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
