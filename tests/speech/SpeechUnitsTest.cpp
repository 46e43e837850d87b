#include "speech/MicBlockQueue.h"
#include "speech/SpeechAvailability.h"
#include "speech/SpeechResampler.h"
#include "speech/sphinx/SphinxEngine.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using Availability = MicTranscriberInterface::Availability;

struct LocaleCase {
    const char* posix;
    const char* expected;
};

void PrintTo(const LocaleCase& c, std::ostream* os) {
    *os << '"' << c.posix << "\" → " << c.expected;
}

class SpeechLocaleTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(SpeechLocaleTest, MapsPosixNames) {
    EXPECT_EQ(speechLocaleFromName(QString::fromLatin1(GetParam().posix)),
              QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Names, SpeechLocaleTest,
                         ::testing::Values(LocaleCase{"C", "en_US"}, LocaleCase{"POSIX", "en_US"},
                                           LocaleCase{"C.UTF-8", "en_US"}, LocaleCase{"", "en_US"},
                                           LocaleCase{"en_GB.UTF-8", "en_GB"},
                                           LocaleCase{"de_DE.UTF-8@euro", "de_DE"},
                                           LocaleCase{"fr_FR", "fr_FR"}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(SpeechAvailabilityTest, CurrentLocaleFollowsPosixPrecedence) {
    qputenv("LC_ALL", "");
    qputenv("LC_MESSAGES", "en_GB.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
    EXPECT_EQ(currentSpeechLocale(), QStringLiteral("en_GB"));
    qputenv("LC_MESSAGES", "");
    EXPECT_EQ(currentSpeechLocale(), QStringLiteral("de_DE"));
    qputenv("LANG", "C");
    EXPECT_EQ(currentSpeechLocale(), QStringLiteral("en_US"));
}

TEST(SpeechAvailabilityTest, EnglishWithTheInstalledModelIsReady) {
    const SphinxEngine engine;
    EXPECT_EQ(speechAvailability(engine, QStringLiteral("en_US")), Availability::ready());
    EXPECT_EQ(speechAvailability(engine, QStringLiteral("en_GB")), Availability::ready());
}

TEST(SpeechAvailabilityTest, OtherLanguagesAreUnavailable) {
    const SphinxEngine engine;
    EXPECT_EQ(
        speechAvailability(engine, QStringLiteral("de_DE")),
        Availability::unsupported(QStringLiteral("Speech recognition is unavailable for de_DE.")));
}

TEST(SpeechAvailabilityTest, MissingEnglishModelIsNotInstalled) {
    QTemporaryDir empty;
    const SphinxEngine engine(empty.path());
    EXPECT_EQ(speechAvailability(engine, QStringLiteral("en_US")),
              Availability::unsupported(QStringLiteral(
                  "On-device speech recognition is not installed for en_US. Install the Debian "
                  "package pocketsphinx-en-us.")));
    SphinxEngine broken(empty.path());
    EXPECT_EQ(broken.createStream(SpeechEngine::Mode::live).stream, nullptr);
}

TEST(SphinxEngineTest, HypothesisReadsAsASentence) {
    EXPECT_EQ(SphinxEngine::formatHypothesis(nullptr), QString());
    EXPECT_EQ(SphinxEngine::formatHypothesis(""), QString());
    EXPECT_EQ(SphinxEngine::formatHypothesis("  "), QString());
    EXPECT_EQ(SphinxEngine::formatHypothesis("i think i'm ready and i'll say it"),
              QStringLiteral("I think I'm ready and I'll say it"));
    EXPECT_EQ(SphinxEngine::formatHypothesis("we  moved it  "), QStringLiteral("We moved it"));
    EXPECT_EQ(SphinxEngine::formatHypothesis("it's in iowa"), QStringLiteral("It's in iowa"));
}

TEST(ResamplerTest, ConvertsRateAndKeepsTheTone) {
    // One second of 1 kHz at 48 kHz, in 10 ms blocks as the microphone delivers it.
    SpeechResampler resampler(48000, 16000);
    ASSERT_TRUE(resampler.isValid());
    std::vector<int16_t> out;
    std::vector<float> block(480);
    for (int b = 0; b < 100; ++b) {
        for (int i = 0; i < 480; ++i)
            block[size_t(i)] = 0.5f * float(std::sin(2 * M_PI * 1000.0 * (b * 480 + i) / 48000.0));
        resampler.process(block.data(), 480, out);
    }
    resampler.flush(out);
    EXPECT_NEAR(double(out.size()), 16000.0, 2.0);

    int crossings = 0;
    int peak = 0;
    for (size_t i = 1000; i + 1000 < out.size(); ++i) {
        crossings += (out[i - 1] < 0) != (out[i] < 0);
        peak = std::max(peak, std::abs(int(out[i])));
    }
    EXPECT_NEAR(crossings, 2 * 1000 * (out.size() - 2000) / 16000.0, 4);
    EXPECT_NEAR(peak, 16384, 200);
}

TEST(ResamplerTest, FlushReadiesForAFreshStreamWithTheSameOutput) {
    SpeechResampler resampler(44100, 16000);
    std::vector<float> input(4410);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = float(std::sin(double(i) * 0.05));
    std::vector<int16_t> first, second;
    resampler.process(input.data(), int(input.size()), first);
    resampler.flush(first);
    resampler.process(input.data(), int(input.size()), second);
    resampler.flush(second);
    EXPECT_EQ(first, second);
}

TEST(ResamplerTest, RejectsNonsenseRates) {
    EXPECT_FALSE(SpeechResampler(0, 16000).isValid());
    std::vector<int16_t> out;
    float sample = 0.5f;
    SpeechResampler(-1, 16000).process(&sample, 1, out);
    EXPECT_TRUE(out.empty());
}

TEST(MicBlockQueueTest, SplitsLargeBlocksAndDropsWhenFull) {
    MicBlockQueue queue(4);
    std::vector<float> block(MicBlockQueue::slotFrames * 3 + 10);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = float(i);
    queue.push(7, 48000, block.data(), int(block.size()));
    EXPECT_EQ(queue.droppedFrames(), 0);
    queue.push(8, 48000, block.data(), 5); // no room left
    EXPECT_EQ(queue.droppedFrames(), 5);

    std::vector<float> out;
    while (const MicBlockQueue::Slot* slot = queue.front()) {
        EXPECT_EQ(slot->segment, 7);
        EXPECT_EQ(slot->sampleRate, 48000);
        out.insert(out.end(), slot->samples, slot->samples + slot->frames);
        queue.pop();
    }
    EXPECT_EQ(out, block);
}

TEST(MicBlockQueueTest, CarriesBlocksAcrossThreadsInOrder) {
    MicBlockQueue queue(8);
    constexpr int kBlocks = 20000;
    std::thread producer([&queue] {
        for (int b = 0; b < kBlocks; ++b) {
            const float value = float(b);
            queue.push(b + 1, 48000, &value, 1);
        }
    });
    int expectedNext = 1;
    int received = 0;
    long long consumed = 0;
    while (consumed + queue.droppedFrames() < kBlocks) {
        if (const MicBlockQueue::Slot* slot = queue.front()) {
            // Blocks may be dropped when full, but those that arrive keep their order and data.
            EXPECT_GE(slot->segment, expectedNext);
            EXPECT_EQ(slot->samples[0], float(slot->segment - 1));
            expectedNext = slot->segment + 1;
            ++received;
            ++consumed;
            queue.pop();
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_GT(received, 0);
    EXPECT_EQ(consumed + queue.droppedFrames(), kBlocks);
}
