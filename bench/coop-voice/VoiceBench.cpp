// Voice codec throughput against libavcodec's IMA ADPCM (WAV) encoder and
// decoder on the same samples, and the cost of one spatial mix per packet.
// items_per_second is samples per second for every codec case.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cstring>
#include <stdexcept>
#include <vector>

#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

using Codec = vantry::creator::OruIMAADPCMVoiceCodecV1170;
using Dsp = vantry::creator::OruSpatialProximityVoiceDSPV1020;

namespace {

constexpr float kRate = 16000.0f;

// Two seconds of the two-tone test voice: the same input for every case.
const std::vector<float>& voice() {
    static const std::vector<float> v = Dsp::generateTestVoiceWave(420.0f, 2.0f, kRate);
    return v;
}

// The same samples as 16-bit integers, quantised exactly as our encoder does.
const std::vector<std::int16_t>& voice16() {
    static const std::vector<std::int16_t> v = [] {
        std::vector<std::int16_t> out;
        for (float s : voice()) out.push_back(static_cast<std::int16_t>(Codec::quantise(s)));
        return out;
    }();
    return v;
}

struct Libav {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* pkt = nullptr;
    ~Libav() {
        av_packet_free(&pkt);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

void openContext(Libav& lv, const AVCodec* codec, int blockAlign) {
    if (!codec) throw std::runtime_error("IMA ADPCM codec missing from libavcodec");
    lv.ctx = avcodec_alloc_context3(codec);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    av_channel_layout_copy(&lv.ctx->ch_layout, &mono);
    lv.ctx->sample_rate = static_cast<int>(kRate);
    lv.ctx->bits_per_coded_sample = 4;
    if (blockAlign > 0) lv.ctx->block_align = blockAlign;
    if (codec->sample_fmts) lv.ctx->sample_fmt = codec->sample_fmts[0];
    if (avcodec_open2(lv.ctx, codec, nullptr) < 0) throw std::runtime_error("avcodec_open2 failed");
    lv.frame = av_frame_alloc();
    lv.pkt = av_packet_alloc();
}

// The voice encoded by libavcodec, one packet per block.
struct LibavBlocks {
    std::vector<std::vector<std::uint8_t>> packets;
    int blockAlign = 0;
    int frameSize = 0;
};

std::int64_t encodeWithLibav(Libav& lv, const std::int16_t* samples, int count,
                             std::vector<std::vector<std::uint8_t>>* keep) {
    lv.frame->nb_samples = count;
    lv.frame->format = lv.ctx->sample_fmt;
    av_channel_layout_copy(&lv.frame->ch_layout, &lv.ctx->ch_layout);
    lv.frame->data[0] = reinterpret_cast<std::uint8_t*>(const_cast<std::int16_t*>(samples));
    lv.frame->extended_data = lv.frame->data;
    lv.frame->linesize[0] = count * 2;
    std::int64_t bytes = 0;
    if (avcodec_send_frame(lv.ctx, lv.frame) < 0) throw std::runtime_error("send_frame failed");
    while (avcodec_receive_packet(lv.ctx, lv.pkt) == 0) {
        bytes += lv.pkt->size;
        if (keep) keep->emplace_back(lv.pkt->data, lv.pkt->data + lv.pkt->size);
        av_packet_unref(lv.pkt);
    }
    return bytes;
}

const LibavBlocks& libavBlocks() {
    static const LibavBlocks blocks = [] {
        LibavBlocks b;
        Libav lv;
        openContext(lv, avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV), 0);
        b.frameSize = lv.ctx->frame_size;
        b.blockAlign = lv.ctx->block_align;
        const auto& s = voice16();
        for (std::size_t at = 0; at + static_cast<std::size_t>(b.frameSize) <= s.size(); at += b.frameSize)
            encodeWithLibav(lv, s.data() + at, b.frameSize, &b.packets);
        return b;
    }();
    return blocks;
}

void BM_OurEncode(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    const auto& s = voice();
    const std::size_t blocks = s.size() / block;
    std::size_t i = 0;
    for (auto _ : state) {
        auto packet = Codec::encodeFloat32Packet(std::span(s).subspan((i++ % blocks) * block, block), 16000);
        benchmark::DoNotOptimize(packet.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * block));
}

void BM_LibavEncode(benchmark::State& state) {
    Libav lv;
    openContext(lv, avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV), 0);
    const int block = lv.ctx->frame_size;
    const auto& s = voice16();
    const std::size_t blocks = s.size() / static_cast<std::size_t>(block);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeWithLibav(lv, s.data() + (i++ % blocks) * block, block, nullptr));
    }
    state.SetItemsProcessed(state.iterations() * block);
    state.counters["block_samples"] = block;
}

void BM_OurDecode(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    const auto& s = voice();
    std::vector<std::vector<std::uint8_t>> packets;
    for (std::size_t at = 0; at + block <= s.size(); at += block)
        packets.push_back(Codec::encodeFloat32Packet(std::span(s).subspan(at, block), 16000));
    std::size_t i = 0;
    for (auto _ : state) {
        auto decoded = Codec::decodeToFloat32(packets[i++ % packets.size()]);
        benchmark::DoNotOptimize(decoded->samples.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * block));
}

void BM_LibavDecode(benchmark::State& state) {
    const auto& blocks = libavBlocks();
    Libav lv;
    openContext(lv, avcodec_find_decoder(AV_CODEC_ID_ADPCM_IMA_WAV), blocks.blockAlign);
    std::vector<AVPacket*> packets;
    for (const auto& b : blocks.packets) {
        AVPacket* p = av_packet_alloc();
        av_new_packet(p, static_cast<int>(b.size()));
        std::memcpy(p->data, b.data(), b.size());
        packets.push_back(p);
    }
    std::size_t i = 0;
    std::int64_t samples = 0;
    for (auto _ : state) {
        if (avcodec_send_packet(lv.ctx, packets[i++ % packets.size()]) < 0)
            state.SkipWithError("send_packet");
        while (avcodec_receive_frame(lv.ctx, lv.frame) == 0) {
            samples += lv.frame->nb_samples;
            benchmark::DoNotOptimize(lv.frame->data[0]);
            av_frame_unref(lv.frame);
        }
    }
    for (auto* p : packets) av_packet_free(&p);
    state.SetItemsProcessed(samples);
    state.counters["block_samples"] = blocks.frameSize;
}

// One received packet as the voice engine mixes it.
void BM_SpatialMix960(benchmark::State& state) {
    const std::span<const float> packet = std::span(voice()).first(960);
    for (auto _ : state) {
        auto mix = Dsp::spatializeMonoVoice(packet, kRate, {0, 0, 0}, {1, 0, 0}, {5.2f, 0, -1}, {0, 0, 0}, 2,
                                            0.24f, 32.0f);
        benchmark::DoNotOptimize(mix.stereoInterleavedPCM.data());
    }
    state.SetItemsProcessed(state.iterations() * 960);
}

// Baseline for the mix: the least a stereo placement can do, two gains and an
// interleaved copy into a fresh buffer.
void BM_PlainStereoGain960(benchmark::State& state) {
    const std::span<const float> packet = std::span(voice()).first(960);
    const float gl = 0.2f, gr = 0.7f;
    for (auto _ : state) {
        std::vector<float> out;
        out.reserve(1920);
        for (float s : packet) {
            out.push_back(gl * s);
            out.push_back(gr * s);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 960);
}

}  // namespace

BENCHMARK(BM_OurEncode)->Arg(960)->Arg(2041);
BENCHMARK(BM_LibavEncode);
BENCHMARK(BM_OurDecode)->Arg(960)->Arg(2041);
BENCHMARK(BM_LibavDecode);
BENCHMARK(BM_SpatialMix960);
BENCHMARK(BM_PlainStereoGain960);
