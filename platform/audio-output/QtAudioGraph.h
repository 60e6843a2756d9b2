// Audio output through Qt Multimedia: the engine is the default output device, the player node a
// QAudioSink pulling a looping buffer. Without an output device the engine's start fails and play()
// does nothing.
#pragma once

#include <QByteArray>
#include <QIODevice>

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

// Interleaved bytes of buffer in the given device format: resampled linearly when the rates differ,
// channels mapped (mono devices get the average, extra channels repeat the last), samples converted to
// the device's sample type. Empty when the format's sample type is unknown.
QByteArray convertPcmForDevice(const PcmBuffer& buffer, const QAudioFormat& deviceFormat);

}  // namespace vantry::platform
