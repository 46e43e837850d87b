#include "session/PairListModel.h"

#include <QSet>

namespace {
// Unchanged cards share their strings with the flow's copy, so most checks end at the pointer.
bool same(const QString& a, const QString& b) {
    return a.isSharedWith(b) || a == b;
}
} // namespace

PairListModel::PairListModel(QObject* parent) : QAbstractListModel(parent) {}

int PairListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_pairs.size());
}

QVariant PairListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QAPair& pair = m_pairs.at(index.row());
    switch (role) {
    case PairIdRole:
        return pair.id;
    case TimestampRole:
        return pair.timestamp;
    case Qt::DisplayRole:
    case QuestionRole:
        // Still being heard: the words so far, with a mark that more is coming.
        return pair.questionInProgress ? pair.question + QStringLiteral(" …") : pair.question;
    case AnswerRole:
        return pair.answer;
    case IsCompleteRole:
        return pair.isComplete;
    case WasExtendedRole:
        return pair.wasExtended;
    case MyAnswerRole:
        return pair.myAnswer;
    case MyAnswerInProgressRole:
        return pair.myAnswerInProgress;
    case NoticeRole:
        return pair.notice;
    case IsTypedRole:
        return pair.isTyped;
    case VersionCountRole:
        return int(pair.versions.size());
    case ShownVersionRole:
        return pair.shownVersion;
    default:
        return {};
    }
}

QHash<int, QByteArray> PairListModel::roleNames() const {
    return pairRoleNames();
}

QHash<int, QByteArray> PairListModel::pairRoleNames() {
    // "pairId" because QML reserves "id".
    return {{PairIdRole, "pairId"},
            {TimestampRole, "timestamp"},
            {QuestionRole, "question"},
            {AnswerRole, "answer"},
            {IsCompleteRole, "isComplete"},
            {WasExtendedRole, "wasExtended"},
            {MyAnswerRole, "myAnswer"},
            {MyAnswerInProgressRole, "myAnswerInProgress"},
            {NoticeRole, "notice"},
            {IsTypedRole, "isTyped"},
            {VersionCountRole, "versionCount"},
            {ShownVersionRole, "shownVersion"}};
}

QList<int> PairListModel::changedRoles(const QAPair& before, const QAPair& after) {
    QList<int> roles;
    if (!same(before.timestamp, after.timestamp))
        roles << TimestampRole;
    if (!same(before.question, after.question) ||
        before.questionInProgress != after.questionInProgress)
        roles << QuestionRole << Qt::DisplayRole;
    if (!same(before.answer, after.answer))
        roles << AnswerRole;
    if (before.isComplete != after.isComplete)
        roles << IsCompleteRole;
    if (before.wasExtended != after.wasExtended)
        roles << WasExtendedRole;
    if (!same(before.myAnswer, after.myAnswer))
        roles << MyAnswerRole;
    if (before.myAnswerInProgress != after.myAnswerInProgress)
        roles << MyAnswerInProgressRole;
    if (!same(before.notice, after.notice))
        roles << NoticeRole;
    if (before.isTyped != after.isTyped)
        roles << IsTypedRole;
    if (before.versions.size() != after.versions.size())
        roles << VersionCountRole;
    if (before.shownVersion != after.shownVersion)
        roles << ShownVersionRole;
    return roles;
}

void PairListModel::sync(const QList<QAPair>& pairs) {
    const int before = count();
    // A streamed delta leaves every old card in place; only a dropped card needs the search.
    if (commonPrefix(pairs) < m_pairs.size())
        removeDropped(pairs);

    // What is left is a prefix of the new list unless cards were reordered, which the flow
    // never does; should it ever, a reset keeps the view true rather than wrong.
    const qsizetype common = commonPrefix(pairs);
    if (common < m_pairs.size()) {
        beginResetModel();
        m_pairs = pairs;
        endResetModel();
        if (count() != before)
            emit countChanged();
        return;
    }

    for (qsizetype row = 0; row < common; ++row) {
        const QList<int> roles = changedRoles(m_pairs.at(row), pairs.at(row));
        if (roles.isEmpty())
            continue;
        m_pairs[row] = pairs.at(row);
        const QModelIndex at = index(int(row));
        emit dataChanged(at, at, roles);
    }
    if (pairs.size() > common) {
        beginInsertRows({}, int(common), int(pairs.size()) - 1);
        m_pairs.append(pairs.mid(common));
        endInsertRows();
    }
    if (count() != before)
        emit countChanged();
}

qsizetype PairListModel::commonPrefix(const QList<QAPair>& pairs) const {
    qsizetype common = 0;
    while (common < m_pairs.size() && common < pairs.size() &&
           m_pairs.at(common).id == pairs.at(common).id)
        ++common;
    return common;
}

void PairListModel::removeDropped(const QList<QAPair>& pairs) {
    QSet<QString> kept;
    kept.reserve(pairs.size());
    for (const QAPair& pair : pairs)
        kept.insert(pair.id);
    // Last first, so the rows above keep their numbers.
    for (int row = int(m_pairs.size()) - 1; row >= 0;) {
        if (kept.contains(m_pairs.at(row).id)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !kept.contains(m_pairs.at(first - 1).id))
            --first;
        beginRemoveRows({}, first, row);
        m_pairs.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }
}
