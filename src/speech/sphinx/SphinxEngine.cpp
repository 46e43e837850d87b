#include "speech/sphinx/SphinxEngine.h"

#include "speech/SpeechLibraryLock.h"

#include <QDir>
#include <QFileInfo>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace {
QString languageOf(const QString& locale) {
    return locale.section(QLatin1Char('_'), 0, 0).section(QLatin1Char('-'), 0, 0).toLower();
}

class SphinxStream final : public SpeechStream {
public:
    SphinxStream(ps_decoder_t* decoder, cmd_ln_t* config) : m_decoder(decoder), m_config(config) {}
    ~SphinxStream() override {
        cancel();
        ps_free(m_decoder);
        cmd_ln_free_r(m_config);
    }

    std::optional<SpeechOutcome> begin() override {
        cancel();
        if (ps_start_utt(m_decoder) < 0)
            return SpeechOutcome::failed(QStringLiteral("The recognizer could not start."));
        m_open = true;
        return std::nullopt;
    }

    void feed(const int16_t* samples, int count) override {
        if (m_open && count > 0)
            ps_process_raw(m_decoder, samples, size_t(count), FALSE, FALSE);
    }

    QString interim() override {
        if (!m_open)
            return {};
        int32 score = 0;
        const char* hyp = ps_get_hyp(m_decoder, &score);
        return SphinxEngine::formatHypothesis(hyp);
    }

    SpeechOutcome finish() override {
        if (!m_open)
            return SpeechOutcome::cancelled();
        m_open = false;
        if (ps_end_utt(m_decoder) < 0)
            return SpeechOutcome::failed(QStringLiteral("The recognizer could not finish."));
        int32 score = 0;
        const char* hyp = ps_get_hyp(m_decoder, &score);
        // PocketSphinx answers "nothing heard" with NULL or "" alike.
        const QString text = SphinxEngine::formatHypothesis(hyp);
        return text.isEmpty() ? SpeechOutcome::noSpeech() : SpeechOutcome::recognized(text);
    }

    void cancel() override {
        if (m_open) {
            m_open = false;
            ps_end_utt(m_decoder);
        }
    }

private:
    ps_decoder_t* m_decoder;
    cmd_ln_t* m_config;
    bool m_open = false;
};

void silenceLibraryLog() {
    // The library logs verbosely to stderr; a log file of its own (-logfn) is process-wide
    // and deadlocks concurrent decoder creation, so logging is switched off once instead.
    static const bool done = [] {
        err_set_logfp(nullptr);
        return true;
    }();
    (void)done;
}
} // namespace

QString SphinxEngine::formatHypothesis(const char* hypothesis) {
    if (!hypothesis)
        return {};
    QStringList words = QString::fromUtf8(hypothesis).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString& word : words) {
        // "i", "i'm", "i've", "i'll", "i'd"
        if (word == QLatin1String("i") || word.startsWith(QLatin1String("i'")))
            word[0] = QLatin1Char('I');
    }
    QString text = words.join(QLatin1Char(' '));
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QString SphinxEngine::defaultModelFolder() {
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us");
}

SphinxEngine::SphinxEngine(const QString& modelFolder) : m_modelFolder(modelFolder) {}

SpeechEngine::ModelState SphinxEngine::modelFor(const QString& locale) const {
    if (languageOf(locale) != QLatin1String("en"))
        return ModelState::unsupportedLanguage;
    const QDir folder(m_modelFolder);
    const bool complete = QFileInfo(folder.filePath(QStringLiteral("en-us"))).isDir() &&
                          QFileInfo(folder.filePath(QStringLiteral("en-us.lm.bin"))).isFile() &&
                          QFileInfo(folder.filePath(QStringLiteral("cmudict-en-us.dict"))).isFile();
    return complete ? ModelState::installed : ModelState::notInstalled;
}

SpeechEngine::Created SphinxEngine::createStream(Mode mode) {
    if (modelFor(QStringLiteral("en_US")) != ModelState::installed)
        return {nullptr, QStringLiteral("The English speech model is not installed.")};
    const QDir folder(m_modelFolder);
    const QByteArray hmm = QFile::encodeName(folder.filePath(QStringLiteral("en-us")));
    const QByteArray lm = QFile::encodeName(folder.filePath(QStringLiteral("en-us.lm.bin")));
    const QByteArray dict =
        QFile::encodeName(folder.filePath(QStringLiteral("cmudict-en-us.dict")));

    std::lock_guard<std::mutex> guard(speechLibraryLock());
    silenceLibraryLog();
    cmd_ln_t* config = nullptr;
    if (mode == Mode::live) {
        // A narrower beam and no second pass: half the CPU and finals within a quarter second,
        // at about the same accuracy for dictation.
        config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm",
                             lm.constData(), "-dict", dict.constData(), "-maxhmmpf", "3000",
                             "-pl_window", "10", "-fwdflat", "no", nullptr);
    } else {
        config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm",
                             lm.constData(), "-dict", dict.constData(), nullptr);
    }
    if (!config)
        return {nullptr, QStringLiteral("The speech recognizer's settings were refused.")};
    ps_decoder_t* decoder = ps_init(config);
    if (!decoder) {
        cmd_ln_free_r(config);
        return {nullptr, QStringLiteral("The English speech model could not be loaded.")};
    }
    return {std::make_unique<SphinxStream>(decoder, config), {}};
}
