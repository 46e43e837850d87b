#include "app/demo/ScriptedRealtimeClient.h"

#include <QJsonObject>
#include <utility>

namespace {
// Seconds of quiet the session needs before it takes the candidate's answer as finished.
constexpr double kQuietAfterReply = 2.4;

QJsonObject usageFor(const DemoScript::Turn& turn) {
    const auto words = qint64(DemoScript::fragments(turn.answer).size());
    return {{QStringLiteral("input_token_details"),
             QJsonObject{{QStringLiteral("audio_tokens"), 180 + 12 * words},
                         {QStringLiteral("text_tokens"), 950},
                         {QStringLiteral("cached_tokens"), 640}}},
            {QStringLiteral("output_token_details"),
             QJsonObject{{QStringLiteral("text_tokens"), words * 4 / 3}}}};
}
} // namespace

ScriptedRealtimeClient::ScriptedRealtimeClient(QList<DemoScript::Turn> turns, double speed,
                                               QObject* parent)
    : QObject(parent), m_turns(std::move(turns)), m_speed(speed) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ScriptedRealtimeClient::runNext);
}

void ScriptedRealtimeClient::start(const Config&) {
    m_awaitingRequest = false;
    m_steps.clear();
    m_next = 0;
    after(0, [this] {
        if (onStatus)
            onStatus(Status::connecting());
    });
    after(0.4, [this] {
        if (onStatus)
            onStatus(Status::connected());
    });
    for (int i = 0; i < m_turns.size(); ++i)
        planTurn(i, m_turns[i]);
    // Room for the last moment's picture before the session stops.
    after(1.0, [this] { mark(QStringLiteral("end")); });
    // As from a real connection, nothing is reported from inside start().
    m_timer.start(0);
}

void ScriptedRealtimeClient::planTurn(int index, const DemoScript::Turn& turn) {
    const QString item = QStringLiteral("item_demo_%1").arg(index + 1);
    const QString response = QStringLiteral("resp_demo_%1").arg(index + 1);
    after(1.2, [this, name = turn.markBeforeAsking] { mark(name); });
    if (turn.typed) {
        after(0.3, [this, text = turn.question] {
            if (onUserAsks)
                onUserAsks(text);
        });
    } else if (turn.screen) {
        after(0.3, [this] {
            if (onUserAsksAboutScreen)
                onUserAsksAboutScreen();
        });
    } else if (!turn.rewrite.isEmpty()) {
        after(0.3, [this, style = turn.rewrite] {
            if (onUserRewrites)
                onUserRewrites(style);
        });
    } else {
        planQuestion(item, turn);
    }
    after(0.35, [this, response, item] {
        const QString card = std::exchange(m_regeneratingCard, QString());
        if (onResponseCreated)
            onResponseCreated(response, card.isEmpty() ? item : QString(), card);
    });
    m_steps.last().awaitsRequest = turn.typed || turn.screen || !turn.rewrite.isEmpty();
    const QStringList words = DemoScript::fragments(turn.answer);
    for (int i = 0; i < words.size(); ++i) {
        afterMs(DemoScript::fragmentDelayMs(i), [this, response, word = words[i]] {
            if (onDelta)
                onDelta(response, word);
        });
        if (i == words.size() / 2)
            after(0, [this, name = turn.markWhileStreaming] { mark(name); });
    }
    after(0.05, [this, usage = usageFor(turn)] {
        if (onUsage)
            onUsage(usage);
    });
    after(0.02, [this, response] {
        if (onResponseDone)
            onResponseDone(response);
    });
    if (turn.replySeconds > 0) {
        after(0.8, [this, seconds = turn.replySeconds, text = turn.myAnswer] {
            if (onCandidateSpeaks)
                onCandidateSpeaks(seconds / m_speed, text);
        });
        // The quiet that ends an answer is measured on the real clock.
        m_steps.append(Step{int((turn.replySeconds / m_speed + kQuietAfterReply) * 1000), {}});
    }
    after(0.3, [this, name = turn.markWhenDone] { mark(name); });
}

// The interviewer talks; the words come as they are heard, then the completed transcript.
void ScriptedRealtimeClient::planQuestion(const QString& item, const DemoScript::Turn& turn) {
    after(0.3, [this, seconds = turn.askSeconds] {
        if (onInterviewerSpeaks)
            onInterviewerSpeaks(seconds / m_speed);
    });
    const QStringList heard = turn.question.split(u' ');
    for (qsizetype i = 0; i < heard.size(); ++i) {
        after(turn.askSeconds / double(heard.size() + 1),
              [this, item, word = i == 0 ? heard[i] : u' ' + heard[i]] {
                  if (onTranscriptDelta)
                      onTranscriptDelta(item, word);
              });
        if (i == heard.size() * 2 / 3)
            after(0, [this, name = turn.markWhileHearing] { mark(name); });
    }
    after(turn.askSeconds / double(heard.size() + 1), [this, item, question = turn.question] {
        if (onTranscript)
            onTranscript(item, question);
    });
}

void ScriptedRealtimeClient::after(double seconds, std::function<void()> action) {
    m_steps.append(Step{int(seconds * 1000 / m_speed), std::move(action)});
}

void ScriptedRealtimeClient::afterMs(int ms, std::function<void()> action) {
    m_steps.append(Step{int(ms / m_speed), std::move(action)});
}

void ScriptedRealtimeClient::mark(const QString& name) {
    if (!name.isEmpty() && onMark)
        onMark(name);
}

void ScriptedRealtimeClient::runNext() {
    // Steps due at once run together; the rest wait for the timer.
    while (m_next < m_steps.size()) {
        Step& step = m_steps[m_next];
        if (step.delayMs > 0) {
            m_timer.start(std::exchange(step.delayMs, 0));
            return;
        }
        if (step.awaitsRequest && m_regeneratingCard.isEmpty()) {
            m_awaitingRequest = true;
            return;
        }
        // Moved out first: the action may stop the client, which drops every step.
        const std::function<void()> action = std::move(step.action);
        ++m_next;
        if (action)
            action();
    }
}

void ScriptedRealtimeClient::regenerate(const QString& cardID, const QString&, const QByteArray&) {
    m_regeneratingCard = cardID;
    if (std::exchange(m_awaitingRequest, false))
        m_timer.start(0);
}

void ScriptedRealtimeClient::stop() {
    m_awaitingRequest = false;
    m_timer.stop();
    m_steps.clear();
    m_next = 0;
    // Like a real connection, the client reports itself idle after it has closed.
    QTimer::singleShot(0, this, [this] {
        if (onStatus)
            onStatus(Status::idle());
    });
}
