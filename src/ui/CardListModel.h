#pragma once

#include "session/PairListModel.h"
#include "ui/CardFonts.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QSet>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// The session's cards as the transcript shows them: every role of the pair list plus what the
// card derives from it (whether the answer shows or a placeholder does, which placeholder, the
// "My answer" title and folded word count) and which cards have their own answer unfolded.
// A source change of some roles is one dataChanged naming those roles and the ones derived
// from them, so a streamed delta touches one card and nothing resets.
//
// Cards reach the fonts and the actions through their view's model, the one object a delegate
// can name without reaching outside itself.
class CardListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("owned by a Transcript")
    Q_PROPERTY(PairListModel* pairs READ pairs WRITE setPairs NOTIFY pairsChanged)
    Q_PROPERTY(CardFonts* fonts READ fonts WRITE setFonts NOTIFY fontsChanged)
    Q_PROPERTY(QString copyLabel READ copyLabel CONSTANT)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY isEmptyChanged)
    // Rewrites are asked of the running session only.
    Q_PROPERTY(
        bool sessionActive READ sessionActive WRITE setSessionActive NOTIFY sessionActiveChanged)
    // The rewrite buttons under a finished answer: {style, label}, in order.
    Q_PROPERTY(QVariantList rewriteStyles READ rewriteStyles CONSTANT)

public:
    enum Role {
        ShowsAnswerRole = PairListModel::MyAnswerInProgressRole + 100,
        PlaceholderRole,
        IsStreamingRole,
        ShowsUpdatedRole,
        HasMyAnswerRole,
        MyAnswerTitleRole,
        MyAnswerCountRole,
        MyAnswerBodyRole,
        IsMyAnswerShownRole,
        ChevronRole,
        CanRewriteRole,
        VersionTextRole,
        HasPreviousVersionRole,
        HasNextVersionRole,
        PictureUrlRole,
    };
    Q_ENUM(Role)

    explicit CardListModel(QObject* parent = nullptr);

    PairListModel* pairs() const { return m_pairs; }
    void setPairs(PairListModel* pairs);
    CardFonts* fonts() const { return m_fonts; }
    void setFonts(CardFonts* fonts);
    QString copyLabel() const;
    bool isEmpty() const { return m_isEmpty; }
    bool sessionActive() const { return m_sessionActive; }
    void setSessionActive(bool active);
    static QVariantList rewriteStyles();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Unfolds a card's own answer or folds it again. The set outlives sessions: ids are unique.
    Q_INVOKABLE void toggleMyAnswer(const QString& pairId);
    bool isMyAnswerShown(const QString& pairId) const { return m_expanded.contains(pairId); }
    // Puts the card's answer on the clipboard: a selection cannot span cards.
    Q_INVOKABLE void copyAnswer(const QString& pairId) const;
    // Asks for a rewrite of the card's answer, and steps through its versions; the view hands
    // the requests to the session.
    Q_INVOKABLE void rewrite(const QString& pairId, const QString& style);
    Q_INVOKABLE void stepVersion(const QString& pairId, int step);
    // Shows the picture of the screen a card asked about at full size, in the desktop's viewer.
    Q_INVOKABLE void openPicture(const QString& pairId) const;

    // Non-empty pieces of `text` split at spaces and line feeds.
    static qlonglong wordCount(const QString& text);
    // The source roles plus the roles derived from them; empty (all roles) stays empty.
    static QList<int> withDerived(const QList<int>& roles);

signals:
    void pairsChanged();
    void fontsChanged();
    void isEmptyChanged();
    void sessionActiveChanged();
    void rewriteRequested(const QString& pairId, const QString& style);
    void versionRequested(const QString& pairId, int index);

private:
    int rowOf(const QString& pairId) const;
    void updateIsEmpty();

    QPointer<PairListModel> m_pairs;
    QPointer<CardFonts> m_fonts;
    QSet<QString> m_expanded;
    bool m_isEmpty = true;
    bool m_sessionActive = false;
};
