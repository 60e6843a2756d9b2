// Audio through Qt Multimedia: the engine is the default output device (and the default input for its
// tap), the player node a QAudioSink pulling a looping buffer or a queue of buffers. Without an output
// device the engine's start fails and play() does nothing; without an input device there is no tap.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <deque>
#include <mutex>

#include "platform/audio-output/AudioGraph.h"

class QAudioFormat;

namespace vantry::platform {

class QtAudioBackend final : public AudioBackend {
  public:
    std::optional<PcmFormat> standardFormat(double sampleRate, int channelCount) override;
    std::shared_ptr<PcmBuffer> makeBuffer(const PcmFormat& format, std::uint64_t frameCapacity) override;
    std::shared_ptr<AudioEngine> makeEngine() override;
    std::shared_ptr<AudioPlayerNode> makePlayerNode() override;
};

// Endless reader over one block of bytes (whole frames), wrapping to the start at the end.
class LoopingByteSource final : public QIODevice {
  public:
    explicit LoopingByteSource(QByteArray bytes, QObject* parent = nullptr);
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

  protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray bytes_;
    qint64 pos_ = 0;
};

// Reader over a queue of byte blocks (whole frames) played in order; reads silence while the queue is
// empty, so the device keeps running. Holds at most maxBytes: older bytes go first when more arrive.
class QueuedByteSource final : public QIODevice {
  public:
    QueuedByteSource(qint64 maxBytes, int bytesPerFrame, QObject* parent = nullptr);
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    void enqueue(QByteArray bytes);
    void clear();
    qint64 queuedBytes() const;

  protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    mutable std::mutex lock_;
    std::deque<QByteArray> blocks_;
    qint64 headOffset_ = 0;
    qint64 queued_ = 0;
    qint64 maxBytes_;
    int bytesPerFrame_;
};

// Deinterleaves device input into float blocks of a fixed frame count and hands each full block to a
// tap. Storage is allocated once up front; writes never allocate or lock.
class TapWriter final : public QIODevice {
  public:
    TapWriter(const QAudioFormat& format, std::uint32_t blockFrames, InputTapBlock block,
              QObject* parent = nullptr);
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

  private:
    int channels_;
    int bytesPerSample_;
    int sampleFormat_;
    double sampleRate_;
    std::uint32_t blockFrames_;
    std::uint32_t filled_ = 0;
    std::vector<std::vector<float>> storage_;
    std::vector<const float*> pointers_;
    std::vector<char> partial_;  // the bytes of an incomplete frame
    int partialBytes_ = 0;
    InputTapBlock block_;
};

// Interleaved bytes of buffer in the given device format: resampled linearly when the rates differ,
// channels mapped (mono devices get the average, extra channels repeat the last), samples converted to
// the device's sample type. Empty when the format's sample type is unknown.
QByteArray convertPcmForDevice(const PcmBuffer& buffer, const QAudioFormat& deviceFormat);

}  // namespace vantry::platform
