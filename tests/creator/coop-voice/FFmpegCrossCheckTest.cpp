// Our decoder against libavcodec's IMA ADPCM decoders.
//
// libavcodec's QuickTime flavour (adpcm_ima_qt) rebuilds each sample with the
// same shift-and-add step as ours, so it must reproduce our samples bit for bit.
// Its WAV flavour (adpcm_ima_wav) multiplies instead ((2·code + 1)·step / 8,
// truncated once), so it may differ from ours by a few units per code; it must
// start on our first sample, stay within that bound and still sound like the input.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

using Codec = vantry::creator::OruIMAADPCMVoiceCodecV1170;

namespace {

struct ContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Decodes one packet of a mono IMA ADPCM stream with libavcodec into 16-bit samples.
std::vector<std::int16_t> decodeWithLibavcodec(AVCodecID id, const std::vector<std::uint8_t>& bytes,
                                               int blockAlign) {
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return {};
    std::unique_ptr<AVCodecContext, ContextDeleter> ctx(avcodec_alloc_context3(codec));
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    av_channel_layout_copy(&ctx->ch_layout, &mono);
    ctx->sample_rate = 16000;
    ctx->block_align = blockAlign;
    ctx->bits_per_coded_sample = 4;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return {};

    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::vector<std::int16_t> out;
    // One block per packet, as a demuxer would hand them over.
    for (std::size_t at = 0; at < bytes.size(); at += static_cast<std::size_t>(blockAlign)) {
        const auto size = std::min(bytes.size() - at, static_cast<std::size_t>(blockAlign));
        av_packet_unref(pkt.get());
        if (av_new_packet(pkt.get(), static_cast<int>(size)) < 0) return {};
        std::memcpy(pkt->data, bytes.data() + at, size);
        if (avcodec_send_packet(ctx.get(), pkt.get()) < 0) return {};
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            const auto fmt = static_cast<AVSampleFormat>(frame->format);
            if (fmt != AV_SAMPLE_FMT_S16 && fmt != AV_SAMPLE_FMT_S16P) return {};
            const auto* s = reinterpret_cast<const std::int16_t*>(frame->data[0]);
            out.insert(out.end(), s, s + frame->nb_samples);
        }
    }
    return out;
}

std::vector<int> codesOf(const std::vector<std::uint8_t>& packet, std::size_t count) {
    std::vector<int> codes;
    for (std::size_t b = 12; b < packet.size(); ++b) {
        codes.push_back(packet[b] & 0x0F);
        codes.push_back(packet[b] >> 4);
    }
    codes.resize(count - 1, 0);
    return codes;
}

// Re-frames one of our packets as QuickTime IMA blocks of 64 codes. Each block
// header carries the top 9 bits of the predictor and the step index reached so
// far, which lets the decoder carry its exact state on from the previous block;
// the first block starts exactly when the packet's predictor is a multiple of 128.
std::vector<std::uint8_t> toQuickTimeBlocks(const std::vector<std::uint8_t>& packet,
                                            const std::vector<float>& ourSamples) {
    const auto codes = codesOf(packet, ourSamples.size());
    const auto& indexTable = Codec::indexTable();
    std::vector<std::uint8_t> blocks;
    int index = std::min<int>(packet[10], 88);
    for (std::size_t start = 0; start < codes.size(); start += 64) {
        const long predictor = std::lround(static_cast<double>(ourSamples[start]) * 32767.0);
        const auto header = static_cast<std::uint16_t>((static_cast<std::uint16_t>(predictor) & 0xFF80u) |
                                                       static_cast<std::uint16_t>(index));
        blocks.push_back(static_cast<std::uint8_t>(header >> 8));
        blocks.push_back(static_cast<std::uint8_t>(header & 0xFF));
        for (std::size_t c = start; c < start + 64; c += 2) {
            const int lo = c < codes.size() ? codes[c] : 0;
            const int hi = c + 1 < codes.size() ? codes[c + 1] : 0;
            blocks.push_back(static_cast<std::uint8_t>(lo | (hi << 4)));
        }
        for (std::size_t c = start; c < std::min(start + 64, codes.size()); ++c)
            index = std::clamp(index + indexTable[static_cast<std::size_t>(codes[c])], 0, 88);
    }
    return blocks;
}

// A packet of random codes with a chosen start state.
std::vector<std::uint8_t> randomPacket(std::mt19937& rng, std::int16_t predictor, int startIndex,
                                       std::uint16_t count) {
    std::vector<std::uint8_t> packet = {'C', 'V', 'P', 'S'};
    packet.push_back(count & 0xFF);
    packet.push_back(count >> 8);
    packet.push_back(0x80);
    packet.push_back(0x3E);
    packet.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(predictor) & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(predictor) >> 8));
    packet.push_back(static_cast<std::uint8_t>(startIndex));
    packet.push_back(0);
    for (int i = 0; i < count / 2; ++i) packet.push_back(static_cast<std::uint8_t>(rng()));
    return packet;
}

void expectQuickTimeReproduces(const std::vector<std::uint8_t>& packet) {
    const auto ours = Codec::decodeToFloat32(packet);
    ASSERT_TRUE(ours);
    const auto blocks = toQuickTimeBlocks(packet, ours->samples);
    const auto theirs = decodeWithLibavcodec(AV_CODEC_ID_ADPCM_IMA_QT, blocks, 34);
    // QuickTime blocks carry no verbatim first sample: their sample j is our sample j + 1.
    ASSERT_GE(theirs.size() + 1, ours->samples.size());
    for (std::size_t j = 0; j + 1 < ours->samples.size(); ++j) {
        ASSERT_EQ(ours->samples[j + 1], static_cast<float>(theirs[j]) / 32767.0f) << "sample " << j + 1;
    }
}

std::vector<float> testTone() {
    return vantry::creator::OruSpatialProximityVoiceDSPV1020::generateTestVoiceWave(420.0f, 0.06f, 16000.0f);
}

}  // namespace

TEST(VoiceCodecCrossCheck, QuickTimeDecoderReproducesOurSamplesExactly) {
    const auto tone = testTone();
    const auto tonePacket = Codec::encodeFloat32Packet(tone, 16000);
    ASSERT_EQ(tonePacket[8] | tonePacket[9], 0);  // the tone starts at 0, a whole block start
    expectQuickTimeReproduces(tonePacket);

    // Random codes from other start states: every nibble, both predictor clamps
    // and the step index walking the whole table.
    std::mt19937 rng(6);
    for (int startIndex : {0, 37, 88})
        for (std::int16_t predictor : {std::int16_t{0}, std::int16_t{-1280}, std::int16_t{32640}})
            expectQuickTimeReproduces(randomPacket(rng, predictor, startIndex, 1201));
}

TEST(VoiceCodecCrossCheck, WavDecoderStaysWithinItsRoundingOfOurs) {
    const auto tone = testTone();
    const auto packet = Codec::encodeFloat32Packet(tone, 16000);
    const auto ours = Codec::decodeToFloat32(packet);
    ASSERT_TRUE(ours);

    // One mono WAV block: predictor, step index, a reserved byte, then our code
    // bytes padded to whole 4-byte groups.
    std::vector<std::uint8_t> block = {packet[8], packet[9], packet[10], 0};
    block.insert(block.end(), packet.begin() + 12, packet.end());
    while (block.size() % 4 != 0) block.push_back(0);
    const auto theirs =
        decodeWithLibavcodec(AV_CODEC_ID_ADPCM_IMA_WAV, block, static_cast<int>(block.size()));
    ASSERT_GE(theirs.size(), ours->samples.size());

    std::vector<float> theirFloats;
    for (std::size_t k = 0; k < ours->samples.size(); ++k) {
        const double ourValue = std::lround(static_cast<double>(ours->samples[k]) * 32767.0);
        // Each code's rebuilt step differs by at most 3 between the two rules.
        EXPECT_LE(std::fabs(theirs[k] - ourValue), 3.0 * static_cast<double>(k)) << "sample " << k;
        theirFloats.push_back(static_cast<float>(theirs[k]) / 32767.0f);
    }
    EXPECT_EQ(theirs[0], 0);
    EXPECT_GE(Codec::measureSNRDB(tone, theirFloats), 18.0);
}
