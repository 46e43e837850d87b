#pragma once

#include "audio/AudioTypes.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

class Resampler;
class SampleQueue;
class WavWriter;

// The session's stereo archive (left microphone, right meeting) written on a thread of its
// own. The capture thread hands frames over through a lock-free queue, so it never waits for
// the disk nor for the write thread; the write thread brings them to 48 kHz when they come at
// another rate and appends them to the WAV file. Up to five seconds can wait; while a disk
// stalls longer, what comes beyond them is lost (the file has a gap where the disk caught up),
// and how much is counted, so that the session can say so.
class ArchiveWriter {
public:
    using Result = std::variant<std::unique_ptr<ArchiveWriter>, AudioFailure>;
    static constexpr int archiveRate = 48000;
    // Runs on the write thread before it takes each chunk off the queue; tests stall it there to
    // play a busy disk.
    using BeforeWrite = std::function<void()>;

    // Creates the folder and the file; fails with the file system's error.
    static Result open(const QString& path, double inputRate, BeforeWrite beforeWrite = {});
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // One producer thread. Never blocks on the disk and never allocates.
    void push(const float* left, const float* right, int64_t frames);
    // Writes everything pushed before, closes the file and ends the thread. Safe to repeat.
    void close();
    // Closes and deletes the file: for a start that failed after creating it.
    void discard();

    QString path() const { return m_path; }
    double inputRate() const { return m_inputRate; }
    // Once closed: why the file holds less than was pushed (a full disk), or nothing.
    std::optional<AudioFailure> failure() const;
    // The audio pushed but dropped because the disk fell more than the queue behind, seconds.
    double droppedSeconds() const;

private:
    ArchiveWriter(QString path, double inputRate, std::unique_ptr<WavWriter> writer,
                  std::unique_ptr<Resampler> resampler, BeforeWrite beforeWrite);
    void run();
    bool drainOnce();
    void flushResampler();

    static constexpr int64_t chunkFrames = 4096;

    const QString m_path;
    const double m_inputRate;
    std::unique_ptr<WavWriter> m_writer;
    std::unique_ptr<Resampler> m_resampler;
    std::unique_ptr<SampleQueue> m_ring; // interleaved left/right
    BeforeWrite m_beforeWrite;
    // Added to by the producer, read by anyone: a counter, so the capture thread never waits.
    std::atomic<int64_t> m_droppedFrames{0};
    std::vector<float> m_interleave; // the producer's
    // The write thread's.
    std::vector<float> m_popped, m_converted, m_left, m_right;
    std::thread m_thread;
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    std::atomic<bool> m_closing{false};
    bool m_closed = false;
};
