#include "session/AnswerRequests.h"

#include "session/QAFlow.h"
#include "settings/Graphemes.h"

#include "base/Background.h"
#include "platform/ScreenCapture.h"

#include <QFileInfo>
#include <QSaveFile>
#include <utility>

namespace {
struct StyleRow {
    AnswerRequests::Style style;
    const char* name;
    const char* how;
};
constexpr StyleRow kStyles[] = {
    {AnswerRequests::Style::shorter, "shorter",
     "much shorter: two sentences at most, keeping its facts"},
    {AnswerRequests::Style::moreDetail, "more_detail",
     "with more detail: the reasoning behind it and one concrete fact from my background"},
    {AnswerRequests::Style::example, "example",
     "around one concrete example from my experience, told briefly: the situation, what I did, "
     "the result"},
    {AnswerRequests::Style::bullets, "bullets", "as three to five short bullet points"},
};
const StyleRow& rowOf(AnswerRequests::Style style) {
    for (const StyleRow& row : kStyles)
        if (row.style == style)
            return row;
    return kStyles[0];
}
} // namespace

AnswerRequests::AnswerRequests(QAFlow& flow, ScreenCapture* screen, Hooks hooks)
    : m_flow(flow), m_screen(screen), m_hooks(std::move(hooks)),
      m_inbox(std::make_shared<MainThreadInbox>()) {}

AnswerRequests::~AnswerRequests() {
    m_inbox->close();
}

void AnswerRequests::captureScreen(bool pickArea) {
    if (!m_screen) {
        m_hooks.banner(QStringLiteral("No screenshot service is available on this desktop."));
        return;
    }
    const std::weak_ptr<int> alive = m_alive;
    m_screen->capture(pickArea, [this, alive](const ScreenCapture::Result& result) {
        if (alive.expired() || result.cancelled)
            return;
        if (result.image.isNull()) {
            m_hooks.banner(result.error.isEmpty()
                               ? QStringLiteral("Nothing could be captured from the screen.")
                               : result.error);
            return;
        }
        const QByteArray jpeg = encodeForModel(result.image);
        const QString path = m_hooks.nextPicturePath ? m_hooks.nextPicturePath() : QString();
        // Written whole or not at all; a picture that cannot be kept is still asked about.
        runInBackground(
            m_inbox,
            [path, jpeg] {
                if (path.isEmpty())
                    return QString();
                QSaveFile file(path);
                const bool saved = file.open(QIODevice::WriteOnly) &&
                                   file.write(jpeg) == jpeg.size() && file.commit();
                return saved ? path : QString();
            },
            [this, alive, jpeg](const QString& saved) {
                if (!alive.expired())
                    askAboutScreen(jpeg, saved);
            });
    });
}

void AnswerRequests::record(const QString& event, const QJsonObject& fields) {
    if (m_hooks.record)
        m_hooks.record(event, fields);
}

std::optional<AnswerRequests::Style> AnswerRequests::styleNamed(const QString& name) {
    for (const StyleRow& row : kStyles)
        if (name == QLatin1String(row.name))
            return row.style;
    return std::nullopt;
}

QString AnswerRequests::nameOf(Style style) {
    return QLatin1String(rowOf(style).name);
}

QString AnswerRequests::rewriteMessage(Style style, const QString& question,
                                       const QString& answer) {
    const QString how = QLatin1String(rowOf(style).how);
    return QStringLiteral("Rewrite this answer to the question \"%1\" %2. Reply with the new "
                          "answer only.\n\n%3")
        .arg(question, how, answer);
}

std::optional<QString> AnswerRequests::ask(const QString& text) {
    const QString question = text.trimmed();
    if (question.isEmpty())
        return std::nullopt;
    QAPair& card = m_flow.appendAskedQuestion(question);
    card.isTyped = true;
    const QString id = card.id;
    record(QStringLiteral("question"),
           {{QStringLiteral("text"), question},
            {QStringLiteral("pair"), id},
            {QStringLiteral("you_were_speaking"), m_hooks.isSpeaking && m_hooks.isSpeaking()},
            {QStringLiteral("typed"), true}});
    m_flow.notifyChanged();
    if (m_hooks.askForCard)
        m_hooks.askForCard(id, question, {});
    return id;
}

QString AnswerRequests::screenMessage() {
    return QStringLiteral(
        "The interviewer is showing me this screen. If it shows a coding problem, give the "
        "approach, its time and space complexity, and working code. Otherwise answer what it "
        "asks, briefly.");
}

QString AnswerRequests::askAboutScreen(const QByteArray& jpeg, const QString& picturePath) {
    QAPair& card = m_flow.appendAskedQuestion(QString());
    card.question = QStringLiteral("Screen at ") + card.timestamp;
    card.isScreen = true;
    card.picture = picturePath;
    const QString id = card.id;
    QJsonObject fields{
        {QStringLiteral("text"), card.question},
        {QStringLiteral("pair"), id},
        {QStringLiteral("you_were_speaking"), m_hooks.isSpeaking && m_hooks.isSpeaking()},
        {QStringLiteral("screen"), true}};
    if (!picturePath.isEmpty())
        fields.insert(QStringLiteral("picture"), QFileInfo(picturePath).fileName());
    record(QStringLiteral("question"), fields);
    m_flow.notifyChanged();
    if (m_hooks.askForCard)
        m_hooks.askForCard(id, screenMessage(), jpeg);
    return id;
}

bool AnswerRequests::rewrite(const QString& cardID, Style style) {
    QAPair* card = m_flow.pair(cardID);
    if (!card || !card->isComplete || card->answer.isEmpty() || !card->rewriting.isEmpty())
        return false;
    if (card->versions.isEmpty())
        card->versions.append(card->answer);
    const QString message = rewriteMessage(style, card->question, card->answer);
    card->rewriting = nameOf(style);
    card->answer.clear();
    card->isComplete = false;
    card->notice.clear();
    m_flow.restartAnswer(cardID);
    if (m_hooks.askForCard)
        m_hooks.askForCard(cardID, message, {});
    return true;
}

void AnswerRequests::showVersion(const QString& cardID, int index) {
    QAPair* card = m_flow.pair(cardID);
    if (!card || !card->rewriting.isEmpty() || index < 0 || index >= card->versions.size() ||
        index == card->shownVersion)
        return;
    card->shownVersion = index;
    card->answer = card->versions.at(index);
    m_flow.notifyChanged();
    m_flow.pushHistory();
}

void AnswerRequests::answerFinished(QAPair& card) {
    if (card.rewriting.isEmpty())
        return;
    const QString style = std::exchange(card.rewriting, QString());
    const QString before = card.versions.value(card.shownVersion);
    // Nothing came (refused, cancelled): the answer it was to replace stays.
    if (card.answer.isEmpty()) {
        card.answer = before;
        if (card.versions.size() == 1)
            card.versions.clear();
        return;
    }
    card.versions.append(card.answer);
    card.shownVersion = int(card.versions.size() - 1);
    record(QStringLiteral("answer_refined"),
           {{QStringLiteral("pair"), card.id},
            {QStringLiteral("style"), style},
            {QStringLiteral("from_chars"), Graphemes::count(before)},
            {QStringLiteral("to_chars"), Graphemes::count(card.answer)}});
}
