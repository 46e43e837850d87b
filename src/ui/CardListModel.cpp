#include "ui/CardListModel.h"

#include "base/Assign.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

CardListModel::CardListModel(QObject* parent) : QAbstractListModel(parent) {
    connect(this, &QAbstractItemModel::rowsInserted, this, &CardListModel::updateIsEmpty);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &CardListModel::updateIsEmpty);
    connect(this, &QAbstractItemModel::modelReset, this, &CardListModel::updateIsEmpty);
}

void CardListModel::updateIsEmpty() {
    const bool isEmpty = rowCount() == 0;
    if (isEmpty == m_isEmpty)
        return;
    m_isEmpty = isEmpty;
    emit isEmptyChanged();
}

void CardListModel::setPairs(PairListModel* pairs) {
    if (m_pairs == pairs)
        return;
    beginResetModel();
    if (m_pairs)
        m_pairs->disconnect(this);
    m_pairs = pairs;
    if (pairs) {
        connect(
            pairs, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first, int last) { beginInsertRows({}, first, last); });
        connect(pairs, &QAbstractItemModel::rowsInserted, this, [this] { endInsertRows(); });
        connect(
            pairs, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { beginRemoveRows({}, first, last); });
        connect(pairs, &QAbstractItemModel::rowsRemoved, this, [this] { endRemoveRows(); });
        connect(pairs, &QAbstractItemModel::modelAboutToBeReset, this,
                [this] { beginResetModel(); });
        connect(pairs, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
        connect(pairs, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& topLeft, const QModelIndex& bottomRight,
                       const QList<int>& roles) {
                    emit dataChanged(index(topLeft.row()), index(bottomRight.row()),
                                     withDerived(roles));
                });
    }
    endResetModel();
    emit pairsChanged();
}

void CardListModel::setFonts(CardFonts* fonts) {
    if (!assignIfChanged(m_fonts, fonts))
        return;
    emit fontsChanged();
}

int CardListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_pairs ? 0 : m_pairs->rowCount();
}

QString CardListModel::copyLabel() const {
    return tr("Copy answer");
}

QList<int> CardListModel::withDerived(const QList<int>& roles) {
    QList<int> all = roles;
    auto add = [&all](std::initializer_list<int> derived) {
        for (int role : derived)
            if (!all.contains(role))
                all << role;
    };
    for (int role : roles) {
        switch (role) {
        case PairListModel::AnswerRole:
        case PairListModel::IsCompleteRole:
            add({ShowsAnswerRole, IsStreamingRole, PlaceholderRole, CanRewriteRole, VersionTextRole,
                 HasPreviousVersionRole, HasNextVersionRole});
            break;
        case PairListModel::VersionCountRole:
        case PairListModel::ShownVersionRole:
            add({VersionTextRole, HasPreviousVersionRole, HasNextVersionRole});
            break;
        case PairListModel::WasExtendedRole:
            add({PlaceholderRole, ShowsUpdatedRole});
            break;
        case PairListModel::MyAnswerRole:
            add({HasMyAnswerRole, MyAnswerCountRole, MyAnswerBodyRole});
            break;
        case PairListModel::MyAnswerInProgressRole:
            add({HasMyAnswerRole, MyAnswerTitleRole});
            break;
        default:
            break;
        }
    }
    return all;
}

qlonglong CardListModel::wordCount(const QString& text) {
    qlonglong count = 0;
    bool inWord = false;
    for (QChar c : text) {
        const bool separator = c == u' ' || c == u'\n';
        if (!separator && !inWord)
            ++count;
        inWord = !separator;
    }
    return count;
}

QVariant CardListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        !m_pairs)
        return {};
    if (role < ShowsAnswerRole)
        return m_pairs->data(m_pairs->index(index.row()), role);
    const QAPair& pair = m_pairs->pairs().at(index.row());
    const bool shown = m_expanded.contains(pair.id);
    switch (role) {
    case ShowsAnswerRole:
        return !pair.answer.isEmpty() || pair.isComplete;
    case PlaceholderRole:
        if (!pair.rewriting.isEmpty())
            return tr("rewriting…");
        return pair.wasExtended ? tr("re-answering the full question…") : tr("thinking…");
    case IsStreamingRole:
        return !pair.isComplete && !pair.answer.isEmpty();
    case ShowsUpdatedRole:
        return pair.wasExtended;
    case HasMyAnswerRole:
        return !pair.myAnswer.isEmpty() || pair.myAnswerInProgress;
    case MyAnswerTitleRole:
        return pair.myAnswerInProgress ? tr("My answer (recording…)") : tr("My answer");
    case MyAnswerCountRole:
        if (shown || pair.myAnswer.isEmpty())
            return QString();
        return QStringLiteral("· ") + QString::asprintf("%lld", wordCount(pair.myAnswer)) +
               tr(" words");
    case MyAnswerBodyRole:
        return pair.myAnswer.isEmpty() ? QStringLiteral("…") : pair.myAnswer;
    case IsMyAnswerShownRole:
        return shown;
    case ChevronRole:
        // Down when unfolded, right when folded.
        return shown ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8");
    case CanRewriteRole:
        return m_sessionActive && pair.isComplete && !pair.answer.isEmpty() &&
               pair.rewriting.isEmpty();
    case VersionTextRole:
        if (pair.versions.size() < 2 || !pair.rewriting.isEmpty())
            return QString();
        return QStringLiteral("%1/%2").arg(pair.shownVersion + 1).arg(pair.versions.size());
    case HasPreviousVersionRole:
        return pair.rewriting.isEmpty() && pair.shownVersion > 0;
    case HasNextVersionRole:
        return pair.rewriting.isEmpty() && pair.shownVersion + 1 < pair.versions.size();
    case PictureUrlRole:
        return pair.picture.isEmpty() ? QString() : QUrl::fromLocalFile(pair.picture).toString();
    default:
        return {};
    }
}

QHash<int, QByteArray> CardListModel::roleNames() const {
    QHash<int, QByteArray> names = PairListModel::pairRoleNames();
    names.insert(QHash<int, QByteArray>{{ShowsAnswerRole, "showsAnswer"},
                                        {PlaceholderRole, "placeholder"},
                                        {IsStreamingRole, "isStreaming"},
                                        {ShowsUpdatedRole, "showsUpdated"},
                                        {HasMyAnswerRole, "hasMyAnswer"},
                                        {MyAnswerTitleRole, "myAnswerTitle"},
                                        {MyAnswerCountRole, "myAnswerCount"},
                                        {MyAnswerBodyRole, "myAnswerBody"},
                                        {IsMyAnswerShownRole, "isMyAnswerShown"},
                                        {ChevronRole, "chevron"},
                                        {CanRewriteRole, "canRewrite"},
                                        {VersionTextRole, "versionText"},
                                        {HasPreviousVersionRole, "hasPreviousVersion"},
                                        {HasNextVersionRole, "hasNextVersion"},
                                        {PictureUrlRole, "pictureUrl"}});
    return names;
}

void CardListModel::toggleMyAnswer(const QString& pairId) {
    if (!m_expanded.remove(pairId))
        m_expanded.insert(pairId);
    if (const int row = rowOf(pairId); row >= 0) {
        const QModelIndex at = index(row);
        emit dataChanged(at, at, {IsMyAnswerShownRole, ChevronRole, MyAnswerCountRole});
    }
}

void CardListModel::copyAnswer(const QString& pairId) const {
    if (const int row = rowOf(pairId); row >= 0)
        QGuiApplication::clipboard()->setText(m_pairs->pairs().at(row).answer);
}

void CardListModel::setSessionActive(bool active) {
    if (!assignIfChanged(m_sessionActive, active))
        return;
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {CanRewriteRole});
    emit sessionActiveChanged();
}

QVariantList CardListModel::rewriteStyles() {
    const auto style = [](const char* name, const QString& label) {
        return QVariantMap{{QStringLiteral("style"), QLatin1String(name)},
                           {QStringLiteral("label"), label}};
    };
    return {style("shorter", tr("Shorter")), style("more_detail", tr("More detail")),
            style("example", tr("Example")), style("bullets", tr("Bullets"))};
}

void CardListModel::rewrite(const QString& pairId, const QString& style) {
    if (const int row = rowOf(pairId); row >= 0 && data(index(row), CanRewriteRole).toBool())
        emit rewriteRequested(pairId, style);
}

void CardListModel::openPicture(const QString& pairId) const {
    if (const int row = rowOf(pairId); row >= 0 && !m_pairs->pairs().at(row).picture.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_pairs->pairs().at(row).picture));
}

void CardListModel::stepVersion(const QString& pairId, int step) {
    const int row = rowOf(pairId);
    if (row < 0)
        return;
    const QAPair& pair = m_pairs->pairs().at(row);
    const int target = pair.shownVersion + step;
    if (pair.rewriting.isEmpty() && target >= 0 && target < pair.versions.size())
        emit versionRequested(pairId, target);
}

int CardListModel::rowOf(const QString& pairId) const {
    if (!m_pairs)
        return -1;
    const QList<QAPair>& pairs = m_pairs->pairs();
    for (qsizetype row = 0; row < pairs.size(); ++row)
        if (pairs.at(row).id == pairId)
            return int(row);
    return -1;
}
