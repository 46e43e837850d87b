#include "audio/WavWriter.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

uint32_t u32At(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<uint32_t>(bytes.constData() + offset);
}

int16_t sampleAt(const QByteArray& bytes, int64_t index) {
    return qFromLittleEndian<int16_t>(bytes.constData() + WavWriter::headerSize + index * 2);
}

std::unique_ptr<WavWriter> open(const QString& path, int rate, int channels) {
    auto result = WavWriter::create(path, rate, channels);
    if (auto* failure = std::get_if<AudioFailure>(&result)) {
        ADD_FAILURE() << failure->description.toStdString();
        return nullptr;
    }
    return std::move(std::get<std::unique_ptr<WavWriter>>(result));
}

// Planar float channels that a FloatAudioBuffer can point into.
struct Block {
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;

    Block(int channelCount, int64_t frames, float value = 0.25f)
        : channels(static_cast<size_t>(channelCount),
                   std::vector<float>(static_cast<size_t>(frames), value)) {
        for (const auto& channel : channels)
            pointers.push_back(channel.data());
    }
    FloatAudioBuffer buffer() const {
        return {pointers.data(), static_cast<int>(channels.size()),
                static_cast<int64_t>(channels.empty() ? 0 : channels[0].size())};
    }
};

class WavWriterTest : public testing::Test {
protected:
    QString path(const char* name = "archive.wav") const {
        return m_dir.filePath(QString::fromLatin1(name));
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(WavWriterTest, ClosedAtOnceLeavesTheHeaderOfAnEmptyRecording) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    writer->close();
    const QByteArray expected = QByteArray::fromHex("52494646"
                                                    "24000000"
                                                    "57415645"
                                                    "666d7420"
                                                    "10000000"
                                                    "0100"
                                                    "0200"
                                                    "80bb0000"
                                                    "00ee0200"
                                                    "0400"
                                                    "1000"
                                                    "64617461"
                                                    "00000000");
    EXPECT_EQ(contents(path()), expected);
    EXPECT_EQ(WavWriter::header(48000, 2, 0), expected);
}

TEST_F(WavWriterTest, HeaderFieldsFollowTheFormat) {
    const QByteArray mono = WavWriter::header(16000, 1, 1000);
    EXPECT_EQ(mono.size(), 44);
    EXPECT_EQ(u32At(mono, 4), 1036u);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(mono.constData() + 22), 1);
    EXPECT_EQ(u32At(mono, 24), 16000u);
    EXPECT_EQ(u32At(mono, 28), 32000u);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(mono.constData() + 32), 2);
    EXPECT_EQ(u32At(mono, 40), 1000u);
}

TEST(WavWriterConversion, FloatToPCM16ClampsScalesAndTruncates) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        int16_t out;
    } rows[] = {
        {1.0f, 32767},   {-1.0f, -32767}, {0.5f, 16383},      {-0.5f, -16383},     {1.5f, 32767},
        {-1.5f, -32767}, {0.0f, 0},       {0.99999f, 32766},  {1e-6f, 0},          {-1e-6f, 0},
        {inf, 32767},    {-inf, -32767},  {std::nanf(""), 0}, {-std::nanf(""), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "sample " << row.in);
        EXPECT_EQ(WavWriter::toPCM16(row.in), row.out);
    }
}

TEST_F(WavWriterTest, SamplesAreWrittenInterleavedAndClamped) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    Block block(2, 3);
    block.channels[0] = {1.5f, 0.5f, std::nanf("")};
    block.channels[1] = {-1.5f, -0.5f, -std::numeric_limits<float>::infinity()};
    writer->write(block.buffer());
    writer->close();
    const QByteArray bytes = contents(path());
    ASSERT_EQ(bytes.size(), 44 + 12);
    const int16_t expected[] = {32767, -32767, 16383, -16383, 0, -32767};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sampleAt(bytes, i), expected[i]) << "sample " << i;
    EXPECT_EQ(u32At(bytes, 40), 12u);
    EXPECT_EQ(u32At(bytes, 4), 48u);
}

TEST_F(WavWriterTest, MonoBufferFillsBothChannelsAndExtraChannelsAreDropped) {
    auto stereo = open(path("stereo.wav"), 48000, 2);
    auto mono = open(path("mono.wav"), 48000, 1);
    ASSERT_TRUE(stereo && mono);
    Block one(1, 4);
    one.channels[0] = {0.1f, -0.2f, 0.3f, -0.4f};
    stereo->write(one.buffer());
    Block two(2, 2);
    two.channels[0] = {0.5f, 0.25f};
    two.channels[1] = {-0.5f, -0.25f};
    mono->write(two.buffer());
    stereo->close();
    mono->close();

    const QByteArray s = contents(path("stereo.wav"));
    ASSERT_EQ(s.size(), 44 + 16);
    for (int frame = 0; frame < 4; ++frame) {
        EXPECT_EQ(sampleAt(s, frame * 2), WavWriter::toPCM16(one.channels[0][frame]));
        EXPECT_EQ(sampleAt(s, frame * 2 + 1), sampleAt(s, frame * 2));
    }
    const QByteArray m = contents(path("mono.wav"));
    ASSERT_EQ(m.size(), 44 + 4);
    EXPECT_EQ(sampleAt(m, 0), 16383);
    EXPECT_EQ(sampleAt(m, 1), 8191);
}

TEST_F(WavWriterTest, EmptyBuffersWriteNothing) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    Block block(2, 16);
    const struct {
        const char* what;
        FloatAudioBuffer buffer;
    } rows[] = {
        {"no channel data", {nullptr, 2, 16}},
        {"no frames", {block.pointers.data(), 2, 0}},
        {"no channels", {block.pointers.data(), 0, 16}},
        {"negative frames", {block.pointers.data(), 2, -5}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        writer->write(row.buffer);
        EXPECT_EQ(writer->dataBytes(), 0);
    }
    writer->close();
    EXPECT_EQ(contents(path()).size(), 44);
}

TEST_F(WavWriterTest, HeaderIsPatchedOnlyWhenA384000ByteStepIsReached) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    // 383996 bytes are 95999 stereo frames: one byte step short of a patch.
    for (int64_t frames : {40000, 40000, 15999}) {
        Block block(2, frames);
        writer->write(block.buffer());
    }
    QByteArray bytes = contents(path());
    EXPECT_EQ(bytes.size(), 44 + 383996);
    EXPECT_EQ(u32At(bytes, 4), 36u);
    EXPECT_EQ(u32At(bytes, 40), 0u);
    EXPECT_EQ(writer->bytesSinceHeaderUpdate(), 383996);

    // The block that passes the step patches both fields; its overshoot is not carried over.
    Block passing(2, 2);
    writer->write(passing.buffer());
    bytes = contents(path());
    EXPECT_EQ(u32At(bytes, 4), 384004u + 36u);
    EXPECT_EQ(u32At(bytes, 40), 384004u);
    EXPECT_EQ(writer->bytesSinceHeaderUpdate(), 0);

    Block after(2, 95999);
    writer->write(after.buffer());
    EXPECT_EQ(u32At(contents(path()), 40), 384004u);
    writer->write(passing.buffer()); // 384004 + 383996 + 8: another full step since the patch
    EXPECT_EQ(u32At(contents(path()), 40), 768008u);

    writer->close();
    bytes = contents(path());
    EXPECT_EQ(bytes.size(), 44 + 768008);
    EXPECT_EQ(u32At(bytes, 40), 768008u);
}

TEST_F(WavWriterTest, ReachingExactly384000BytesPatches) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    Block block(2, 96000);
    writer->write(block.buffer());
    EXPECT_EQ(u32At(contents(path()), 40), 384000u);
    EXPECT_EQ(writer->bytesSinceHeaderUpdate(), 0);
}

TEST_F(WavWriterTest, WritesAfterCloseAreIgnored) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    Block block(2, 10);
    writer->write(block.buffer());
    writer->close();
    writer->write(block.buffer());
    writer->close();
    const QByteArray bytes = contents(path());
    EXPECT_EQ(bytes.size(), 44 + 40);
    EXPECT_EQ(u32At(bytes, 40), 40u);
}

TEST_F(WavWriterTest, CreationFailsWithTheFileSystemsError) {
    const QString missing = path("no-such-folder/archive.wav");
    auto result = WavWriter::create(missing, 48000, 2);
    ASSERT_TRUE(std::holds_alternative<AudioFailure>(result));
    EXPECT_EQ(std::get<AudioFailure>(result).description,
              missing + QStringLiteral(": No such file or directory"));

    auto folder = WavWriter::create(m_dir.path(), 48000, 2);
    ASSERT_TRUE(std::holds_alternative<AudioFailure>(folder));
    EXPECT_EQ(std::get<AudioFailure>(folder).description,
              m_dir.path() + QStringLiteral(": Is a directory"));

    EXPECT_TRUE(std::holds_alternative<AudioFailure>(WavWriter::create(path(), 48000, 0)));
    EXPECT_TRUE(std::holds_alternative<AudioFailure>(WavWriter::create(path(), 0, 2)));
}

TEST_F(WavWriterTest, CreationTruncatesAnExistingFile) {
    writeBytes(path(), QByteArray(5000, 'x'));
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    EXPECT_EQ(contents(path()), WavWriter::header(48000, 2, 0));
}

TEST(WavWriterLimit, DataCapacityIsTheLastWholeFrameUnderTheSizeField) {
    const struct {
        int channels;
        int64_t limit, capacity;
    } rows[] = {
        {2, WavWriter::maxDataBytes, 4294967256}, {1, WavWriter::maxDataBytes, 4294967258},
        {3, WavWriter::maxDataBytes, 4294967256}, {2, 1002, 1000},
        {2, int64_t{1} << 40, 4294967256},        {0, 1000, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.channels << " channels, limit " << row.limit);
        EXPECT_EQ(WavWriter::dataCapacity(row.channels, row.limit), row.capacity);
    }
    EXPECT_EQ(WavWriter::maxDataBytes + 36, 0xFFFFFFFFLL);
}

TEST_F(WavWriterTest, AFullFileStopsAtTheLastWholeFrameWithAMatchingHeader) {
    auto result = WavWriter::create(path(), 48000, 2, 1002);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<WavWriter>>(result));
    auto& writer = std::get<std::unique_ptr<WavWriter>>(result);
    Block block(2, 200);
    writer->write(block.buffer());
    writer->write(block.buffer()); // only 50 of these 200 frames fit
    writer->write(block.buffer());
    EXPECT_EQ(writer->dataBytes(), 1000);
    // Patched at once, not at the next step or at close: the file is complete as it stands.
    QByteArray bytes = contents(path());
    EXPECT_EQ(bytes.size(), 44 + 1000);
    EXPECT_EQ(u32At(bytes, 40), 1000u);
    EXPECT_EQ(u32At(bytes, 4), 1036u);
    writer->close();
    EXPECT_EQ(contents(path()), bytes);

    // A block that fills the file to the last byte completes it just the same.
    auto exact = WavWriter::create(path(), 48000, 2, 800);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<WavWriter>>(exact));
    std::get<std::unique_ptr<WavWriter>>(exact)->write(block.buffer());
    EXPECT_EQ(u32At(contents(path()), 40), 800u);
}

namespace {

struct Declared {
    sf_count_t frames = -1;
    int rate = 0, channels = 0;
};

Declared readWithSndfile(const QString& path, std::vector<short>* samples = nullptr) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        ADD_FAILURE() << "libsndfile: " << sf_strerror(nullptr);
        return {};
    }
    if (samples) {
        samples->resize(static_cast<size_t>(info.frames * info.channels));
        EXPECT_EQ(sf_readf_short(file, samples->data(), info.frames), info.frames);
    }
    sf_close(file);
    return {info.frames, info.samplerate, info.channels};
}

QString soxi(const QString& option, const QString& path) {
    QProcess process;
    process.start(QStringLiteral("soxi"), {option, path});
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        ADD_FAILURE() << "soxi " << option.toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A 440 Hz tone on the left and a quieter 1 kHz tone on the right.
float tone(int64_t frame, int64_t channel) {
    const double t = static_cast<double>(frame) / 48000.0;
    return channel == 0 ? static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * t))
                        : static_cast<float>(0.25 * std::sin(2 * M_PI * 1000 * t));
}

} // namespace

// The archive is readable at every moment while it grows, by libsndfile and by sox, and its
// declared length trails what was written by less than two seconds.
// A disk that fills up ends the recording at its last whole frame, with a header that says so
// and a reason; what comes later is dropped, not counted.
TEST(WavWriterDisk, AFullDiskEndsTheFileAtItsLastWholeFrameWithAMatchingHeader) {
    ScratchDisk disk(64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.whyNot().toStdString();
    const QString path = disk.path() + QStringLiteral("/archive.wav");
    auto writer = open(path, 48000, 3); // 6-byte frames: a page boundary splits one
    ASSERT_TRUE(writer);
    const Block block(3, 1001);
    for (int i = 0; i < 100 && !writer->failure(); ++i)
        writer->write(block.buffer());
    ASSERT_TRUE(writer->failure());
    EXPECT_EQ(writer->failure()->description, QStringLiteral("No space left on device"));
    const int64_t kept = writer->dataBytes();
    writer->write(block.buffer());
    EXPECT_EQ(writer->dataBytes(), kept);
    writer->close();

    const QByteArray bytes = contents(path);
    EXPECT_EQ(bytes.size(), WavWriter::headerSize + kept);
    EXPECT_EQ(kept % 6, 0);
    EXPECT_EQ(u32At(bytes, 40), kept);
    EXPECT_EQ(u32At(bytes, 4), kept + 36);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    EXPECT_EQ(info.frames, kept / 6);
    sf_close(file);
}

TEST_F(WavWriterTest, AGrowingFileIsReadableWithALengthLaggingLessThanTwoSeconds) {
    auto writer = open(path(), 48000, 2);
    ASSERT_TRUE(writer);
    const int blockFrames = 2048;
    Block block(2, blockFrames);
    int64_t written = 0;
    int checks = 0;
    for (int n = 0; written < 48000 * 7; ++n) {
        for (int i = 0; i < blockFrames; ++i) {
            block.channels[0][static_cast<size_t>(i)] = tone(written + i, 0);
            block.channels[1][static_cast<size_t>(i)] = tone(written + i, 1);
        }
        writer->write(block.buffer());
        written += blockFrames;
        if (n % 40 != 17)
            continue;
        ++checks;
        SCOPED_TRACE(testing::Message() << "after " << written << " frames");
        std::vector<short> samples;
        const Declared declared = readWithSndfile(path(), &samples);
        EXPECT_EQ(declared.rate, 48000);
        EXPECT_EQ(declared.channels, 2);
        EXPECT_EQ(declared.frames, writer->dataBytes() / 4 - writer->bytesSinceHeaderUpdate() / 4);
        EXPECT_GE(declared.frames, 0);
        EXPECT_LT(written - declared.frames, 96000);
        EXPECT_EQ(soxi(QStringLiteral("-s"), path()).toLongLong(), declared.frames);
        EXPECT_EQ(soxi(QStringLiteral("-r"), path()), QStringLiteral("48000"));
        EXPECT_EQ(soxi(QStringLiteral("-c"), path()), QStringLiteral("2"));
        // What is declared reads back as written.
        for (sf_count_t i = 0; i < declared.frames * 2; i += 4801)
            ASSERT_EQ(samples[static_cast<size_t>(i)], WavWriter::toPCM16(tone(i / 2, i % 2)))
                << "sample " << i;
    }
    EXPECT_GE(checks, 3);
    writer->close();
    const Declared final = readWithSndfile(path());
    EXPECT_EQ(final.frames, written);
    EXPECT_EQ(soxi(QStringLiteral("-s"), path()).toLongLong(), written);
}
