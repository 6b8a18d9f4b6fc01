// Opening an input: the collected options go into the open call, the input's
// properties come back into the session for the outputs that follow.
#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

#include "engine/binding/CodecLock.h"
#include "engine/binding/LocalInput.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

// True when the file name's extension, lower-cased and with its dot, is a
// leading part of ".rmvb": RealMedia decoders may not report a pixel format.
bool HasRealMediaExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string extension = fileName.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string real = ".rmvb";
  return extension.size() <= real.size() && real.compare(0, extension.size(), extension) == 0;
}

void SetEntry(DictionaryPtr& dictionary, const char* key, const std::string& value) {
  AVDictionary* raw = dictionary.release();
  FF.av_dict_set(&raw, key, value.c_str(), 0);
  dictionary.reset(raw);
}

}  // namespace

void TCustomFFmpeg::SetForcedInputFormat(const std::string& name) {
  if (name.empty()) return;
  std::string format = name;
  if (format == "pgmyuv") {
    PgmyuvCompatibility = 1;
    format = "image2";
    Log(1, "pgmyuv format is deprecated, use image2");
  }
  ForcedInputFormat = FF.av_find_input_format(format.c_str());
  if (!ForcedInputFormat) throw FFMpegException(FormatText("Unknown input format: %s", name.c_str()));
}

void TCustomFFmpeg::ScanInputStreamTypes(bool& hasVideo, bool& hasAudio, bool& hasSubtitle) {
  hasVideo = hasAudio = hasSubtitle = false;
  for (int i = 0; i < InputFileCount; ++i) {
    for (unsigned j = 0; j < InputFiles[i]->nb_streams; ++j) {
      const int type = InputFiles[i]->streams[j]->codecpar->codec_type;
      if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB)
        throw FFMpegException("invalid codec_type of input file");
      if (type == AVMEDIA_TYPE_VIDEO) hasVideo = true;
      if (type == AVMEDIA_TYPE_AUDIO) hasAudio = true;
      if (type == AVMEDIA_TYPE_SUBTITLE) hasSubtitle = true;
    }
  }
}

void TCustomFFmpeg::ResetInputOptions() {
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  ForcedInputFormat = nullptr;
  ForcedOutputFormat = nullptr;
  VideoChannel = 0;
  RateEmu = 0;
}

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
  if (InputFileCount >= MaxFiles)
    throw FFMpegException(FormatText("Too many input files: at most %d are allowed", MaxFiles));
  EnsureOptionHolders();
  auto fail = [this] {
    ResetInputOptions();
    return false;
  };

  // What the old parameter record carried; demuxers that have such an option
  // (raw audio and video, image sequences) take it, the others ignore it.
  DictionaryPtr options;
  if (AudioSampleRate > 0) SetEntry(options, "sample_rate", std::to_string(AudioSampleRate));
  if (AudioChannels > 0) SetEntry(options, "channels", std::to_string(AudioChannels));
  if (FrameRate.num > 0 && FrameRate.den > 0)
    SetEntry(options, "framerate", FormatText("%d/%d", FrameRate.num, FrameRate.den));
  const int width = FrameWidth + PadLeft + PadRight;
  const int height = FrameHeight + PadTop + PadBottom;
  if (width > 0 && height > 0) SetEntry(options, "video_size", FormatText("%dx%d", width, height));
  if (FramePixFmt >= 0) {
    if (const char* pixelFormat = FF.av_get_pix_fmt_name(static_cast<AVPixelFormat>(FramePixFmt)))
      SetEntry(options, "pixel_format", pixelFormat);
  }
  if (VideoChannel != 0) SetEntry(options, "channel", std::to_string(VideoChannel));
  if (!VideoStandard.empty()) SetEntry(options, "standard", VideoStandard);
  if (LoopInput) SetEntry(options, "loop", "1");

  const AVCodec* decoders[3] = {nullptr, nullptr, nullptr};
  const std::string* names[3] = {&VideoCodecName, &AudioCodecName, &SubtitleCodecName};
  const AVMediaType types[3] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE};
  for (int k = 0; k < 3; ++k) {
    if (names[k]->empty()) continue;
    decoders[k] = FindCodecByName(*names[k], types[k], false);
    if (!decoders[k]) return fail();
  }

  AVFormatContext* context = FF.avformat_alloc_context();
  if (!context) {
    LastError = FormatOpenError(fileName, AVERROR(ENOMEM));
    return fail();
  }
  if (decoders[0]) {
    context->video_codec_id = decoders[0]->id;
    context->video_codec = decoders[0];
  }
  if (PgmyuvCompatibility) context->video_codec_id = AV_CODEC_ID_PGMYUV;
  if (decoders[1]) {
    context->audio_codec_id = decoders[1]->id;
    context->audio_codec = decoders[1];
  }
  if (decoders[2]) {
    context->subtitle_codec_id = decoders[2]->id;
    context->subtitle_codec = decoders[2];
  }
  SetContextOptions(context, FormatOptions, AV_OPT_FLAG_DECODING_PARAM);

  AVDictionary* openOptions = options.release();
  const int opened = OpenLocalInput(&context, fileName, ForcedInputFormat, &openOptions);
  options.reset(openOptions);
  if (opened < 0) {
    LastError = FormatOpenError(fileName, opened);
    return fail();
  }
  InputContextPtr input(context);

  if (ProgramId != 0) {
    for (unsigned i = 0; i < context->nb_programs; ++i)
      if (context->programs[i]->id != ProgramId) context->programs[i]->discard = AVDISCARD_ALL;
  }

  {
    std::vector<AVDictionary*> streamOptions(context->nb_streams, nullptr);
    for (AVDictionary*& entry : streamOptions) AddDecoderLimits(&entry);
    int found;
    {
      std::lock_guard<std::mutex> guard(CodecLock());
      found = FF.avformat_find_stream_info(context, streamOptions.empty() ? nullptr : streamOptions.data());
    }
    for (AVDictionary*& entry : streamOptions) FF.av_dict_free(&entry);
    if (found < 0 && Verbose >= 0) {
      LastError = FormatText("%s: could not find codec parameters", fileName.c_str());
      return fail();
    }
  }

  int64_t timestamp = StartTime;
  if (context->start_time != AV_NOPTS_VALUE) timestamp += context->start_time;
  if (StartTime != 0) {
    // A failed seek leaves the input where the library put it.
    FF.av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    StartTime = 0;
  }

  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream* stream = context->streams[i];
    AVCodecParameters* parameters = stream->codecpar;
    const int type = parameters->codec_type;
    if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB) throw FFMpegException("invalid codec_type");
    if (type == AVMEDIA_TYPE_VIDEO) {
      FrameHeight = parameters->height;
      FrameWidth = parameters->width;
      AVRational sampleAspect = stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio
                                                                     : parameters->sample_aspect_ratio;
      double ratio = sampleAspect.num != 0 && sampleAspect.den != 0
                         ? static_cast<double>(sampleAspect.num) / sampleAspect.den
                         : 0.0;
      if (FrameWidth * FrameHeight != 0)
        ratio = ratio != 0 ? FrameWidth * ratio / FrameHeight : static_cast<double>(FrameWidth) / FrameHeight;
      else if (ratio == 0)
        ratio = 4.0 / 3.0;
      FrameAspectRatio = static_cast<float>(ratio);

      if (parameters->format == AV_PIX_FMT_NONE && HasRealMediaExtension(fileName))
        parameters->format = AV_PIX_FMT_YUV420P;
      FramePixFmt = parameters->format;

      const AVRational containerRate = stream->r_frame_rate;
      const AVRational codecRate = stream->avg_frame_rate;
      if (codecRate.num != 0 && codecRate.den != 0 && containerRate.den != 0 &&
          (codecRate.num != containerRate.num || codecRate.den != containerRate.den) && Verbose > 0)
        Log(1,
            "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f "
            "(%d/%d)",
            static_cast<int>(i), static_cast<double>(codecRate.num) / codecRate.den, codecRate.num,
            codecRate.den, static_cast<double>(containerRate.num) / containerRate.den, containerRate.num,
            containerRate.den);
      FrameRate = containerRate;

      if (VideoDisable)
        stream->discard = AVDISCARD_ALL;
      else if (VideoDiscard != 0)
        stream->discard = static_cast<AVDiscard>(VideoDiscard);
    } else if (type == AVMEDIA_TYPE_AUDIO) {
      AudioChannels = parameters->ch_layout.nb_channels;
      AudioSampleRate = parameters->sample_rate;
      AudioSampleFmt = parameters->format;
      if (AudioDisable) stream->discard = AVDISCARD_ALL;
    } else if (type == AVMEDIA_TYPE_SUBTITLE) {
      if (SubtitleDisable) stream->discard = AVDISCARD_ALL;
    }
  }

  if (context->duration != AV_NOPTS_VALUE) {
    const int64_t duration = context->duration / 1000;
    if (duration > TotalDuration) TotalDuration = duration;
  }

  const int index = InputFileCount;
  InputFiles[index] = input.release();
  InputTsOffsets[index] = CopyTs ? InputTsOffset : InputTsOffset - timestamp;
  // Decoders are opened by the run; they read the input at its native rate
  // when this was asked for the input.
  InputRateEmu[index] = RateEmu;
  if (Verbose >= 0) FF.av_dump_format(context, index, fileName.c_str(), 0);
  ++InputFileCount;
  ResetInputOptions();
  return true;
}
