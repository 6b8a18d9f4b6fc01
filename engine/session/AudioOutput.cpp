// The audio output path: decoded audio as packed signed 16-bit samples,
// rate and channel changes, the FIFO that cuts whole encoder frames, the
// conversion to the encoder's sample format and the encoding.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

// The layout to hand the resampler: a layout that only gives a channel
// count becomes the usual layout of that count.
void UsableLayout(const AVChannelLayout& given, AVChannelLayout& layout) {
  if (given.order == AV_CHANNEL_ORDER_UNSPEC || given.nb_channels <= 0) {
    FF.av_channel_layout_default(&layout, given.nb_channels > 0 ? given.nb_channels : 1);
    return;
  }
  if (FF.av_channel_layout_copy(&layout, &given) < 0)
    FF.av_channel_layout_default(&layout, given.nb_channels);
}

SwrContext* MakeConverter(const AVChannelLayout& outLayout, AVSampleFormat outFormat, int outRate,
                          const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate) {
  AVChannelLayout out{}, in{};
  UsableLayout(outLayout, out);
  UsableLayout(inLayout, in);
  SwrContext* context = nullptr;
  const int made =
      FF.swr_alloc_set_opts2(&context, &out, outFormat, outRate, &in, inFormat, inRate, 0, nullptr);
  FF.av_channel_layout_uninit(&out);
  FF.av_channel_layout_uninit(&in);
  if (made < 0 || !context) return nullptr;
  if (FF.swr_init(context) < 0) {
    FF.swr_free(&context);
    return nullptr;
  }
  return context;
}

// The largest unit after silence was put in front of it; a longer gap goes
// out as units of silence of at most that size first.
constexpr int64_t kMaxUnitBytes = 131072;

void EnsureSize(std::vector<uint8_t>& buffer, size_t bytes) {
  if (buffer.size() < bytes) buffer.resize(bytes);
}

}  // namespace

int TCustomFFmpeg::ConvertToS16(TInputStreamState& ist, const AVFrame* frame) {
  const int channels = frame->ch_layout.nb_channels;
  const int rate = frame->sample_rate;
  const int samples = frame->nb_samples;
  if (channels <= 0 || rate <= 0 || samples <= 0) return 0;
  const size_t bytes = static_cast<size_t>(samples) * channels * 2;
  if (DecodedAudioBuffer.size() < bytes) DecodedAudioBuffer.resize(std::max<size_t>(bytes, 192000));

  size_t unitBytes = bytes;
  if (frame->format == AV_SAMPLE_FMT_S16) {
    std::memcpy(DecodedAudioBuffer.data(), frame->data[0], bytes);
  } else {
    if (!ist.ToS16 || ist.ToS16Format != frame->format || ist.ToS16Rate != rate ||
        ist.ToS16Channels != channels) {
      ist.ToS16.reset(MakeConverter(frame->ch_layout, AV_SAMPLE_FMT_S16, rate, frame->ch_layout,
                                    static_cast<AVSampleFormat>(frame->format), rate));
      if (!ist.ToS16) {
        const char* from = FF.av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        throw FFMpegException(FormatText("Cannot convert %s sample format to %s sample format",
                                         from ? from : "?", FF.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
      }
      ist.ToS16Format = frame->format;
      ist.ToS16Rate = rate;
      ist.ToS16Channels = channels;
    }
    uint8_t* out = DecodedAudioBuffer.data();
    const int converted = FF.swr_convert(ist.ToS16.get(), &out, samples,
                                         const_cast<const uint8_t**>(frame->extended_data), samples);
    if (converted <= 0) return 0;
    unitBytes = static_cast<size_t>(converted) * channels * 2;
  }
  ist.UnitChannels = channels;
  ist.UnitRate = rate;
  return static_cast<int>(unitBytes);
}

void TCustomFFmpeg::OutputAudio(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                const uint8_t* samples, int size) {
  AVCodecContext* enc = ost.Encoder;
  const int encChannels = enc->ch_layout.nb_channels;
  const int encRate = enc->sample_rate;
  const int decChannels = ist.UnitChannels;
  const int decRate = ist.UnitRate;
  if (encChannels <= 0 || decChannels <= 0 || encRate <= 0 || decRate <= 0 || size <= 0) return;
  const int inputFrameBytes = 2 * decChannels;  // one sample of every channel, 16 bits each
  size -= size % inputFrameBytes;
  if (size <= 0) return;

  // Rate and channel changes go through the resampler, made on the first
  // unit and again only when the decoded audio changes its rate or channels.
  if (encChannels != decChannels || encRate != decRate) ost.AudioResample = true;
  if (ost.AudioResample &&
      (!ost.AudioResampler || ost.ResamplerInRate != decRate || ost.ResamplerInChannels != decChannels)) {
    AVChannelLayout decLayout{};
    FF.av_channel_layout_default(&decLayout, decChannels);
    ost.AudioResampler.reset(
        MakeConverter(enc->ch_layout, AV_SAMPLE_FMT_S16, encRate, decLayout, AV_SAMPLE_FMT_S16, decRate));
    if (!ost.AudioResampler)
      throw FFMpegException(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                       decChannels, decRate, encChannels, encRate));
    ost.ResamplerInRate = decRate;
    ost.ResamplerInChannels = decChannels;
  }

  // Samples handed on but not yet encoded: those in the FIFO and those the
  // resampler holds back.
  AVAudioFifo* fifo = ost.SampleFifo.get();
  const int fifoSamples = FF.av_audio_fifo_size(fifo);
  int64_t pending = fifoSamples;
  if (ost.AudioResampler)
    pending += std::max<int64_t>(FF.swr_get_delay(ost.AudioResampler.get(), encRate), 0);

  if (AudioSyncMethod != 0) {
    // The output clock follows the input clock: a gap is filled with
    // silence, an overlap cut from the unit, a small drift taken up by the
    // resampler.
    const double delta = SyncInputSeconds(ost) * encRate - static_cast<double>(ost.SyncPosition) -
                         static_cast<double>(pending);
    const double idelta = delta * decRate / encRate;
    int64_t byteDelta = static_cast<int64_t>(idelta) * inputFrameBytes;
    if (std::fabs(delta) > 50) {
      if (ist.IsStart || std::fabs(delta) > AudioDriftThreshold * encRate) {
        if (byteDelta < 0) {
          byteDelta = std::max<int64_t>(byteDelta, -size);
          samples += -byteDelta;
          size += static_cast<int>(byteDelta);
          if (Verbose > 2) Log(1, "discarding %" PRId64 " audio samples", static_cast<int64_t>(-delta));
          if (size <= 0) return;
          ist.IsStart = false;
        } else {
          if (Verbose > 2) Log(1, "adding %" PRId64 " audio samples of silence", static_cast<int64_t>(delta));
          // A gap longer than one unit takes goes out in whole units of
          // silence first, so the unit itself keeps its time.
          const int64_t silentUnit = kMaxUnitBytes / inputFrameBytes * inputFrameBytes;
          while (byteDelta + size > kMaxUnitBytes) {
            const int64_t part = std::min(byteDelta, silentUnit);
            if (static_cast<int64_t>(SilenceBuffer.size()) < part)
              SilenceBuffer.resize(static_cast<size_t>(part));
            std::memset(SilenceBuffer.data(), 0, static_cast<size_t>(part));
            OutputSamples(os, ost, SilenceBuffer.data(), static_cast<int>(part / inputFrameBytes));
            byteDelta -= part;
          }
          ist.IsStart = false;
          const size_t total = static_cast<size_t>(byteDelta) + static_cast<size_t>(size);
          if (SilenceBuffer.size() < total) SilenceBuffer.resize(total);
          std::memcpy(SilenceBuffer.data() + byteDelta, samples, static_cast<size_t>(size));
          std::memset(SilenceBuffer.data(), 0, static_cast<size_t>(byteDelta));
          samples = SilenceBuffer.data();
          size += static_cast<int>(byteDelta);
        }
      } else if (AudioSyncMethod > 1 && ost.AudioResampler) {
        const int compensation =
            static_cast<int>(std::clamp<double>(std::trunc(delta), -AudioSyncMethod, AudioSyncMethod));
        if (Verbose > 2)
          Log(1, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, compensation, encRate);
        FF.swr_set_compensation(ost.AudioResampler.get(), compensation, encRate);
      }
    }
  } else {
    ost.SyncPosition = static_cast<int64_t>(std::nearbyint(SyncInputSeconds(ost) * encRate)) - pending;
    if (ost.AudioNextPts == AV_NOPTS_VALUE && ost.SyncPosition < 0) {
      // Audio from before the start of the output (a seek lands on the key
      // frame before the position) is left out, as video sync leaves out
      // those pictures: both streams begin at the start.
      const int64_t early = (-ost.SyncPosition * decRate + encRate - 1) / encRate;
      if (early >= size / inputFrameBytes) return;
      samples += early * inputFrameBytes;
      size -= static_cast<int>(early) * inputFrameBytes;
      ost.SyncPosition = 0;
    }
  }
  OutputSamples(os, ost, samples, size / inputFrameBytes);
}

void TCustomFFmpeg::OutputSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples,
                                  int sampleCount) {
  // The encoder's clock starts where the output clock stands at the first
  // unit and then counts the samples handed to it.
  if (ost.AudioNextPts == AV_NOPTS_VALUE) {
    ost.AudioNextPts = ost.SyncPosition + FF.av_audio_fifo_size(ost.SampleFifo.get());
    if (ost.AudioResampler)
      ost.AudioNextPts +=
          std::max<int64_t>(FF.swr_get_delay(ost.AudioResampler.get(), ost.Encoder->sample_rate), 0);
  }

  const uint8_t* unit = samples;
  int unitSamples = sampleCount;
  const int encChannels = ost.Encoder->ch_layout.nb_channels;
  if (ost.AudioResample) {
    const int capacity = FF.swr_get_out_samples(ost.AudioResampler.get(), unitSamples);
    if (capacity <= 0) return;
    EnsureSize(ost.ResampleBuffer, static_cast<size_t>(capacity) * encChannels * 2);
    uint8_t* out = ost.ResampleBuffer.data();
    unitSamples = FF.swr_convert(ost.AudioResampler.get(), &out, capacity, &unit, unitSamples);
    if (unitSamples < 0) {
      if (ExitOnError) throw FFMpegException("audio_resample() failed");
      Log(0, "audio_resample() failed");
      return;
    }
    if (unitSamples == 0) return;
    unit = out;
  }
  QueueAudioSamples(os, ost, unit, unitSamples);
}

void TCustomFFmpeg::QueueAudioSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples,
                                      int sampleCount) {
  AVCodecContext* enc = ost.Encoder;
  const int encChannels = enc->ch_layout.nb_channels;
  const int frameSize = enc->frame_size;
  if (frameSize > 1) {
    // Whole encoder frames from the FIFO; the rest waits for the next unit.
    AVAudioFifo* fifo = ost.SampleFifo.get();
    void* unitData = const_cast<uint8_t*>(samples);
    if (FF.av_audio_fifo_write(fifo, &unitData, sampleCount) < sampleCount)
      throw FFMpegException("av_fifo_realloc2() failed");
    EnsureSize(ost.FrameSamples, static_cast<size_t>(frameSize) * encChannels * 2);
    while (FF.av_audio_fifo_size(fifo) >= frameSize) {
      void* frameData = ost.FrameSamples.data();
      FF.av_audio_fifo_read(fifo, &frameData, frameSize);
      EncodeAudioSamples(os, ost, ost.FrameSamples.data(), frameSize);
      ost.SyncPosition += frameSize;
    }
  } else {
    // Encoders without a frame size (sample by sample) take every unit whole.
    ost.SyncPosition += sampleCount;
    EncodeAudioSamples(os, ost, samples, sampleCount);
  }
}

void TCustomFFmpeg::EncodeAudioSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples,
                                       int sampleCount) {
  AVCodecContext* enc = ost.Encoder;
  if (!ost.AudioFrame) {
    ost.AudioFrame.reset(FF.av_frame_alloc());
    if (!ost.AudioFrame) throw FFMpegException("av_mallocz fail");
  }
  AVFrame* frame = ost.AudioFrame.get();
  // The frame is reused unless the encoder still holds it or it is too small.
  if (!frame->buf[0] || ost.AudioFrameCapacity < sampleCount || !FF.av_frame_is_writable(frame)) {
    FF.av_frame_unref(frame);
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (FF.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0)
      throw FFMpegException("av_mallocz fail");
    frame->nb_samples = std::max(sampleCount, enc->frame_size);
    if (FF.av_frame_get_buffer(frame, 0) < 0) throw FFMpegException("av_mallocz fail");
    ost.AudioFrameCapacity = frame->nb_samples;
  }
  frame->nb_samples = sampleCount;

  const int channels = enc->ch_layout.nb_channels;
  if (enc->sample_fmt == AV_SAMPLE_FMT_S16) {
    std::memcpy(frame->data[0], samples, static_cast<size_t>(sampleCount) * channels * 2);
  } else {
    const int pair = enc->sample_fmt + 5 * AV_SAMPLE_FMT_S16;
    if (!ost.SampleFormatConverter || ost.SampleFormatPair != pair) {
      ost.SampleFormatConverter.reset(MakeConverter(enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                                    enc->ch_layout, AV_SAMPLE_FMT_S16, enc->sample_rate));
      if (!ost.SampleFormatConverter) {
        const char* to = FF.av_get_sample_fmt_name(enc->sample_fmt);
        throw FFMpegException(FormatText("Cannot convert %s sample format to %s sample format",
                                         FF.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16), to ? to : "?"));
      }
      ost.SampleFormatPair = pair;
    }
    const int converted = FF.swr_convert(ost.SampleFormatConverter.get(), frame->extended_data, sampleCount,
                                         &samples, sampleCount);
    if (converted < 0) {
      if (ExitOnError) throw FFMpegException("av_audio_convert() failed");
      Log(0, "av_audio_convert() failed");
      return;
    }
  }
  frame->pts = ost.AudioNextPts;
  ost.AudioNextPts += sampleCount;
  EncodeFrame(os, ost, frame);
}

void TCustomFFmpeg::FlushEncoder(AVFormatContext* os, TOutputStreamState& ost) {
  AVCodecContext* enc = ost.Encoder;
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && ost.AudioResampler && ost.AudioNextPts != AV_NOPTS_VALUE) {
    // The last samples the resampler held back.
    const int held = FF.swr_get_out_samples(ost.AudioResampler.get(), 0);
    if (held > 0) {
      EnsureSize(ost.ResampleBuffer, static_cast<size_t>(held) * enc->ch_layout.nb_channels * 2);
      uint8_t* out = ost.ResampleBuffer.data();
      const int flushed = FF.swr_convert(ost.AudioResampler.get(), &out, held, nullptr, 0);
      if (flushed > 0) QueueAudioSamples(os, ost, out, flushed);
    }
  }
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && ost.SampleFifo) {
    const int left = FF.av_audio_fifo_size(ost.SampleFifo.get());
    if (left > 0) {
      const int channels = enc->ch_layout.nb_channels;
      const int frameSize = enc->frame_size;
      int count = left;
      // An encoder that only takes whole frames gets the rest padded with
      // silence rather than losing it.
      if (frameSize > 1 && left < frameSize && !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME))
        count = frameSize;
      EnsureSize(ost.FrameSamples, static_cast<size_t>(count) * channels * 2);
      std::memset(ost.FrameSamples.data(), 0, static_cast<size_t>(count) * channels * 2);
      void* frameData = ost.FrameSamples.data();
      FF.av_audio_fifo_read(ost.SampleFifo.get(), &frameData, left);
      EncodeAudioSamples(os, ost, ost.FrameSamples.data(), count);
      ost.SyncPosition += count;
    }
  }
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO || enc->codec_type == AVMEDIA_TYPE_VIDEO)
    EncodeFrame(os, ost, nullptr);
  // A DVB clearing page held for its time.
  if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && ost.HeldClear && ost.HeldClear->data) {
    WritePacket(os, ost.HeldClear.get(), ost);
    FF.av_packet_unref(ost.HeldClear.get());
  }
}
