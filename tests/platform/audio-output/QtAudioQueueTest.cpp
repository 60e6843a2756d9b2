// The byte-level pieces of the Qt audio adapter that need no device: the playback queue and the
// capture tap's deinterleaving.
#include <gtest/gtest.h>

#include <QAudioFormat>
#include <cstring>

#include "platform/audio-output/QtAudioBackend.h"

using namespace vantry::platform;

namespace {

QByteArray bytesOf(std::initializer_list<char> values) {
    return QByteArray(values.begin(), int(values.size()));
}

TEST(QueuedByteSource, PlaysBlocksInOrderThenSilenceInWholeFrames) {
    QueuedByteSource queue(64, 2);
    queue.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    queue.enqueue(bytesOf({1, 2, 3, 4}));
    queue.enqueue(bytesOf({5, 6}));
    char out[9];
    std::memset(out, 0x7F, sizeof out);
    // Nine bytes asked: eight (whole 2-byte frames) come back, the last two are silence.
    ASSERT_EQ(queue.read(out, 9), 8);
    EXPECT_EQ(QByteArray(out, 8), bytesOf({1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(queue.queuedBytes(), 0);
    EXPECT_GT(queue.bytesAvailable(), 0) << "silence keeps the device running";
}

TEST(QueuedByteSource, DropsTheOldestBeyondItsLimitAndClears) {
    QueuedByteSource queue(4, 2);
    queue.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    queue.enqueue(bytesOf({1, 1}));
    queue.enqueue(bytesOf({2, 2}));
    queue.enqueue(bytesOf({3, 3}));
    EXPECT_EQ(queue.queuedBytes(), 4);
    char out[4];
    ASSERT_EQ(queue.read(out, 4), 4);
    EXPECT_EQ(QByteArray(out, 4), bytesOf({2, 2, 3, 3}));
    queue.enqueue(bytesOf({4, 4}));
    queue.clear();
    EXPECT_EQ(queue.queuedBytes(), 0);
}

TEST(TapWriter, DeinterleavesInt16IntoFixedBlocksAcrossSplitWrites) {
    QAudioFormat format;
    format.setSampleRate(48000);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    std::vector<std::vector<float>> left, right;
    std::vector<double> rates;
    TapWriter writer(format, 3, [&](const CapturedAudio& block) {
        ASSERT_EQ(block.channelCount, 2);
        left.emplace_back(block.channels[0], block.channels[0] + block.frameLength);
        right.emplace_back(block.channels[1], block.channels[1] + block.frameLength);
        rates.push_back(block.sampleRate);
    });
    writer.open(QIODevice::WriteOnly);
    std::vector<qint16> samples;
    for (int f = 0; f < 7; ++f) samples.insert(samples.end(), {qint16(f * 1000), qint16(-16384)});
    const char* raw = reinterpret_cast<const char*>(samples.data());
    // Writes that cut frames and even samples in half.
    writer.write(raw, 5);
    writer.write(raw + 5, 14);
    writer.write(raw + 19, qint64(samples.size() * 2) - 19);
    ASSERT_EQ(left.size(), 2u) << "seven frames make two blocks of three; one frame waits";
    EXPECT_FLOAT_EQ(left[1][2], 5000.0f / 32768.0f);
    EXPECT_FLOAT_EQ(right[0][0], -0.5f);
    EXPECT_EQ(rates[0], 48000.0);
}

}  // namespace
