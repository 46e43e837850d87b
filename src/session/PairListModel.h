#pragma once

#include "session/QAPair.h"

#include <QAbstractListModel>
#include <QList>

// The cards as a list model. It mirrors the flow's list after each change: a streamed delta is
// one row's dataChanged with the roles that changed, a new card one inserted row, a dropped
// empty card one removed row. Views keep their place and selection because nothing resets.
class PairListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        PairIdRole = Qt::UserRole + 1,
        TimestampRole,
        QuestionRole,
        AnswerRole,
        IsCompleteRole,
        WasExtendedRole,
        MyAnswerRole,
        MyAnswerInProgressRole,
        NoticeRole,
        IsTypedRole,
        VersionCountRole,
        ShownVersionRole,
    };
    Q_ENUM(Role)

    explicit PairListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    // The role names without a model, for models that show the cards with more roles.
    static QHash<int, QByteArray> pairRoleNames();

    int count() const { return int(m_pairs.size()); }
    const QList<QAPair>& pairs() const { return m_pairs; }
    // Brings the model in line with `pairs`, which may have changed rows in place, dropped rows
    // anywhere and appended rows at the end since the last call.
    void sync(const QList<QAPair>& pairs);

    // The roles whose values differ between two versions of one card.
    static QList<int> changedRoles(const QAPair& before, const QAPair& after);

signals:
    void countChanged();

private:
    // How many leading cards have the same ids in both lists.
    qsizetype commonPrefix(const QList<QAPair>& pairs) const;
    // Removes the cards that `pairs` no longer holds, as contiguous row ranges.
    void removeDropped(const QList<QAPair>& pairs);

    QList<QAPair> m_pairs;
};
