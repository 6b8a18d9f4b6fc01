// Adding video, audio and subtitle streams to an output. Everything that can
// fail is checked before the stream is created, so a failed addition leaves
// the output as it was.
#include <cstdlib>
#include <cstring>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

// "start,end,q" entries separated by "/"; q > 0 is a fixed quantiser, q <= 0
// a quality factor of -q percent.
std::vector<RcOverride> ParseRcOverride(const std::string& text) {
  std::vector<RcOverride> overrides;
  if (text.empty()) return overrides;
  const char* p = text.c_str();
  auto readNumber = [&](bool separatorFollows) {
    char* stop = nullptr;
    const long number = std::strtol(p, &stop, 10);
    if (stop == p || (separatorFollows && *stop != ',')) throw FFMpegException("error parsing rc_override");
    p = separatorFollows ? stop + 1 : stop;
    return static_cast<int>(number);
  };
  while (p) {
    RcOverride entry{};
    entry.start_frame = readNumber(true);
    entry.end_frame = readNumber(true);
    const int q = readNumber(false);
    if (q > 0) {
      entry.qscale = q;
      entry.quality_factor = 1.0f;
    } else {
      entry.qscale = 0;
      entry.quality_factor = static_cast<float>(-q) / 100.0f;
    }
    overrides.push_back(entry);
    p = std::strchr(p, '/');
    if (p) ++p;
  }
  return overrides;
}

// Of the rates an encoder supports, the one nearest to rate; the first of
// equally near ones wins.
AVRational NearestSupportedRate(const AVRational* supported, AVRational rate) {
  AVRational best = rate;
  AVRational bestDifference{INT32_MAX, 1};
  for (const AVRational* entry = supported; entry->num || entry->den; ++entry) {
    AVRational difference = FF.av_sub_q(rate, *entry);
    if (difference.num < 0) difference.num = -difference.num;
    if (difference.den < 0) difference.den = -difference.den;
    if (static_cast<int64_t>(difference.num) * bestDifference.den <
        static_cast<int64_t>(bestDifference.num) * difference.den) {
      bestDifference = difference;
      best = *entry;
    }
  }
  return best;
}

double SampleAspect(float displayAspect, int width, int height) {
  if (width * height != 0) return static_cast<double>(displayAspect) * height / width;
  return static_cast<double>(displayAspect) * 3 / 4;
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix) {
  auto* copy = static_cast<uint16_t*>(FF.av_malloc(64 * sizeof(uint16_t)));
  if (copy) std::memcpy(copy, matrix.data(), 64 * sizeof(uint16_t));
  return copy;
}

}  // namespace

TOutputFileRecord& TCustomFFmpeg::RecordOf(AVFormatContext* output) {
  if (output && output == pendingOutput_) return *pendingRecord_;
  for (int i = 0; i < OutputFileCount; ++i)
    if (OutputFiles[i] == output) return outputRecords_[i];
  throw FFMpegException("The output does not belong to this session");
}

TOutputStreamRecord& TCustomFFmpeg::AddStream(AVFormatContext* output, TOutputFileRecord& record,
                                              const AVCodec* codec, bool streamCopy) {
  CodecContextPtr encoder(FF.avcodec_alloc_context3(streamCopy ? nullptr : codec));
  AVStream* stream = encoder ? FF.avformat_new_stream(output, nullptr) : nullptr;
  if (!stream) throw FFMpegException("Could not alloc stream");
  stream->id = static_cast<int>(output->nb_streams) - 1;
  TOutputStreamRecord& added = record.Streams.emplace_back();
  added.Stream = stream;
  added.Encoder = std::move(encoder);
  added.Codec = streamCopy ? nullptr : codec;
  added.StreamCopy = streamCopy;
  added.Encoder->thread_count = ThreadCount;
  return added;
}

void TCustomFFmpeg::CheckStreamRoom(AVFormatContext* output) {
  if (output->nb_streams >= MaxStreams)
    throw FFMpegException(FormatText("Too many streams in one output: at most %d are allowed", MaxStreams));
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* output) {
  TOutputFileRecord& record = RecordOf(output);
  CheckStreamRoom(output);
  EnsureOptionHolders();
  const bool streamCopy = VideoStreamCopy != 0;

  const AVCodec* codec = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  int substituteTag = 0;
  std::vector<RcOverride> overrides;
  if (!streamCopy) {
    codec = ChooseEncoder(output, VideoCodecName, AVMEDIA_TYPE_VIDEO, codecId);
    // The built-in encoder standing in for an external one writes its tag.
    if (VideoCodecName == "libxvid" && std::strcmp(codec->name, "libxvid") != 0)
      substituteTag = MKTAG('x', 'v', 'i', 'd');
    try {
      overrides = ParseRcOverride(VideoRcOverride);
    } catch (const FFMpegException&) {
      VideoCodecName.clear();
      throw;
    }
  }

  TOutputStreamRecord* added = nullptr;
  try {
    added = &AddStream(output, record, codec, streamCopy);
  } catch (const FFMpegException&) {
    VideoCodecName.clear();
    throw;
  }
  AVStream* stream = added->Stream;
  AVCodecContext* encoder = added->Encoder.get();
  added->BitstreamFilters = std::move(VideoBitstreamFilters);
  VideoBitstreamFilters.clear();
  encoder->codec_type = AVMEDIA_TYPE_VIDEO;
  if (VideoCodecTag != 0)
    encoder->codec_tag = static_cast<unsigned>(VideoCodecTag);
  else if (substituteTag != 0)
    encoder->codec_tag = static_cast<unsigned>(substituteTag);
  AVCodecContext* videoOptions = CodecOptions[AVMEDIA_TYPE_VIDEO];
  if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && (output->oformat->flags & AVFMT_GLOBALHEADER))) {
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (videoOptions) videoOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (VideoGlobalHeader & 2) {
    encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    if (videoOptions) videoOptions->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  if (streamCopy) {
    stream->sample_aspect_ratio = FF.av_d2q(SampleAspect(FrameAspectRatio, FrameWidth, FrameHeight), 255);
  } else {
    AVRational rate = FrameRate.num != 0 ? FrameRate : AVRational{25, 1};
    encoder->codec_id = codecId;
    SetContextOptions(encoder, videoOptions, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderPrivateOptions(*added);
    if (codec && codec->supported_framerates) rate = NearestSupportedRate(codec->supported_framerates, rate);
    encoder->time_base = AVRational{rate.den, rate.num};
    encoder->framerate = rate;
    encoder->width = FrameWidth + PadRight + PadLeft;
    encoder->height = FrameHeight + PadTop + PadBottom;
    encoder->sample_aspect_ratio =
        FF.av_d2q(SampleAspect(FrameAspectRatio, encoder->width, encoder->height), 255);
    stream->sample_aspect_ratio = encoder->sample_aspect_ratio;

    encoder->pix_fmt = static_cast<AVPixelFormat>(FramePixFmt);
    if (codec && codec->pix_fmts) {
      bool supported = false;
      for (const AVPixelFormat* format = codec->pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
        if (*format == encoder->pix_fmt) supported = true;
      if (!supported) encoder->pix_fmt = codec->pix_fmts[0];
    }
    if (IntraOnly) encoder->gop_size = 0;
    if (VideoQScale != 0 || SameQuality) {
      encoder->flags |= AV_CODEC_FLAG_QSCALE;
      added->Quality = VideoQScale * FF_QP2LAMBDA;
      encoder->global_quality = static_cast<int>(added->Quality);
    }
    if (!IntraMatrix.empty()) encoder->intra_matrix = CopyMatrix(IntraMatrix);
    if (!InterMatrix.empty()) encoder->inter_matrix = CopyMatrix(InterMatrix);
    encoder->thread_count = ThreadCount;
    if (!overrides.empty()) {
      encoder->rc_override = static_cast<RcOverride*>(FF.av_malloc(overrides.size() * sizeof(RcOverride)));
      if (encoder->rc_override) {
        std::memcpy(encoder->rc_override, overrides.data(), overrides.size() * sizeof(RcOverride));
        encoder->rc_override_count = static_cast<int>(overrides.size());
      }
    }
    if (encoder->rc_initial_buffer_occupancy == 0)
      encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
    encoder->intra_dc_precision = IntraDcPrecision - 8;
    if (DoPsnr) encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (DoPass == 1) encoder->flags |= AV_CODEC_FLAG_PASS1;
    if (DoPass == 2) encoder->flags |= AV_CODEC_FLAG_PASS2;
  }

  VideoDisable = 0;
  VideoCodecName.clear();
  VideoStreamCopy = 0;
}

// The encoder of a new stream: the one named, else the muxer's own codec for
// the type (for subtitles too: a stream without any encoder would fail the
// run). codecId receives the encoder's id, or the guessed id when no encoder
// exists for it.
const AVCodec* TCustomFFmpeg::ChooseEncoder(AVFormatContext* output, const std::string& name, AVMediaType type,
                                            AVCodecID& codecId) {
  if (!name.empty()) {
    const AVCodec* codec = FindCodecByName(name, type, true);
    if (!codec) throw FFMpegException(LastError);
    codecId = codec->id;
    return codec;
  }
  codecId = FF.av_guess_codec(output->oformat, nullptr, output->url, nullptr, type);
  const AVCodec* codec = FF.avcodec_find_encoder(codecId);
  if (codec) codecId = codec->id;
  return codec;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* output) {
  TOutputFileRecord& record = RecordOf(output);
  CheckStreamRoom(output);
  EnsureOptionHolders();
  const bool streamCopy = AudioStreamCopy != 0;

  const AVCodec* codec = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  if (!streamCopy) {
    codec = ChooseEncoder(output, AudioCodecName, AVMEDIA_TYPE_AUDIO, codecId);
  }

  TOutputStreamRecord* added = nullptr;
  try {
    added = &AddStream(output, record, codec, streamCopy);
  } catch (const FFMpegException&) {
    AudioCodecName.clear();
    AudioLanguage.clear();
    throw;
  }
  AVStream* stream = added->Stream;
  AVCodecContext* encoder = added->Encoder.get();
  added->BitstreamFilters = std::move(AudioBitstreamFilters);
  AudioBitstreamFilters.clear();
  encoder->codec_type = AVMEDIA_TYPE_AUDIO;
  if (AudioCodecTag != 0) encoder->codec_tag = static_cast<unsigned>(AudioCodecTag);
  AVCodecContext* audioOptions = CodecOptions[AVMEDIA_TYPE_AUDIO];
  if (output->oformat->flags & AVFMT_GLOBALHEADER) {
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (audioOptions) audioOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  FF.av_channel_layout_uninit(&encoder->ch_layout);
  if (!streamCopy) {
    encoder->codec_id = codecId;
    SetContextOptions(encoder, audioOptions, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderPrivateOptions(*added);
    if (AudioQScale > AudioQScaleUnset) {
      encoder->flags |= AV_CODEC_FLAG_QSCALE;
      added->Quality = AudioQScale * FF_QP2LAMBDA;
      encoder->global_quality = static_cast<int>(added->Quality);
    }
    encoder->thread_count = ThreadCount;
    encoder->sample_fmt = static_cast<AVSampleFormat>(AudioSampleFmt);
    if (codec && codec->sample_fmts) {
      bool supported = false;
      for (const AVSampleFormat* format = codec->sample_fmts; *format != AV_SAMPLE_FMT_NONE; ++format)
        if (*format == encoder->sample_fmt) supported = true;
      if (!supported) encoder->sample_fmt = codec->sample_fmts[0];
    }
  }
  FF.av_channel_layout_default(&encoder->ch_layout, AudioChannels);
  encoder->sample_rate = AudioSampleRate;
  encoder->time_base = AVRational{1, AudioSampleRate};
  if (!AudioLanguage.empty()) {
    FF.av_dict_set(&stream->metadata, "language", AudioLanguage.substr(0, 3).c_str(), 0);
    AudioLanguage.clear();
  }

  AudioDisable = 0;
  AudioCodecName.clear();
  AudioStreamCopy = 0;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* output) {
  TOutputFileRecord& record = RecordOf(output);
  CheckStreamRoom(output);
  EnsureOptionHolders();
  const bool streamCopy = SubtitleStreamCopy != 0;

  const AVCodec* codec = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  if (!streamCopy) {
    codec = ChooseEncoder(output, SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, codecId);
  }

  TOutputStreamRecord* added = nullptr;
  try {
    added = &AddStream(output, record, codec, streamCopy);
  } catch (const FFMpegException&) {
    SubtitleCodecName.clear();
    SubtitleLanguage.clear();
    throw;
  }
  AVStream* stream = added->Stream;
  AVCodecContext* encoder = added->Encoder.get();
  added->BitstreamFilters = std::move(SubtitleBitstreamFilters);
  SubtitleBitstreamFilters.clear();
  encoder->codec_type = AVMEDIA_TYPE_SUBTITLE;
  if (!streamCopy) {
    encoder->codec_id = codecId;
    SetContextOptions(encoder, CodecOptions[AVMEDIA_TYPE_SUBTITLE],
                      AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderPrivateOptions(*added);
  }
  if (!SubtitleLanguage.empty()) {
    FF.av_dict_set(&stream->metadata, "language", SubtitleLanguage.substr(0, 3).c_str(), 0);
    SubtitleLanguage.clear();
  }

  SubtitleDisable = 0;
  SubtitleCodecName.clear();
  SubtitleStreamCopy = 0;
}
