#include "engine/probe/AVProbe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/binding/CodecLock.h"
#include "engine/binding/EngineError.h"
#include "engine/binding/EngineLog.h"
#include "engine/binding/LocalInput.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

std::string Tag(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* entry = FF.av_dict_get(metadata, key, nullptr, 0);
  return entry && entry->value ? entry->value : "";
}

int64_t ToMicroseconds(int64_t value, AVRational timeBase) {
  if (value == AV_NOPTS_VALUE) return -1;
  return FF.av_rescale_q(value, timeBase, kMicroseconds);
}

// "%d.%.6d": seconds and microseconds, both truncated toward zero.
std::string StartTimeText(int64_t microseconds) {
  return FormatText("%d.%.6d", static_cast<int>(microseconds / 1000000),
                    static_cast<int>(microseconds % 1000000));
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Fills the fields the two stream records share.
template <typename Info>
void FillCommonStreamInfo(const AVStream* stream, Info& info) {
  info.Language = Tag(stream->metadata, "language").substr(0, 3);
  info.CodecName = FF.avcodec_get_name(stream->codecpar->codec_id);
  info.StartTime = stream->start_time;
  info.StartTimeUs = ToMicroseconds(stream->start_time, stream->time_base);
  info.Duration = stream->duration;
  info.DurationUs = ToMicroseconds(stream->duration, stream->time_base);
  info.BitRate = static_cast<int>(stream->codecpar->bit_rate);
}

}  // namespace

std::string FormatDurationText(int64_t t) {
  const int64_t seconds = t / 1000000;
  return FormatText("%.2d:%.2d:%.2d.%.3d", static_cast<int>(seconds / 60 / 60),
                    static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                    static_cast<int>(t % 1000000 / 1000));
}

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe() {
  CloseFile();
}

void TAVProbe::CheckLibraries() {
  if (!AVCodecLoaded()) throw FFMpegException("LibAVCodec not loaded.");
  if (!AVFormatLoaded()) throw FFMpegException("LibAVFormat not loaded.");
  if (!AVUtilLoaded()) throw FFMpegException("LibAVUtil not loaded.");
  if (!SwScaleLoaded()) throw FFMpegException("LibSwScale not loaded.");
}

bool TAVProbe::OpenFile(const std::string& fileName, const std::string& formatName) {
  CheckLibraries();
  CloseFile();
  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = FF.av_find_input_format(formatName.c_str());
    if (!format) {
      lastError_ = FormatText("Unknown input format: %s", formatName.c_str());
      return false;
    }
  }
  AVFormatContext* context = FF.avformat_alloc_context();
  if (!context) {
    lastError_ = FormatOpenError(fileName, AVERROR(ENOMEM));
    return false;
  }
  const int opened = OpenLocalInput(&context, fileName, format, nullptr);
  if (opened < 0) {
    lastError_ = FormatOpenError(fileName, opened);
    return false;  // the failed open freed the context
  }
  context_ = context;
  ownsContext_ = true;
  int found;
  {
    std::lock_guard<std::mutex> lock(CodecLock());
    found = FF.avformat_find_stream_info(context_, nullptr);
  }
  if (found < 0) {
    lastError_ = FormatText("%s: could not find codec parameters", fileName.c_str());
    CloseFile();
    return false;
  }
  CountStreams();
  formatName_ = formatName;
  return true;
}

void TAVProbe::AttachContext(AVFormatContext* context) {
  CheckLibraries();
  CloseFile();
  ownsContext_ = false;
  context_ = context;
  CountStreams();
}

void TAVProbe::CloseFile() {
  formatName_.clear();
  singlePictureDecoded_ = false;
  if (picture_) picture_->SetSize(0, 0);
  if (conversion_) FF.sws_freeContext(conversion_);
  conversion_ = nullptr;
  decoder_.reset();
  decoderStream_ = -1;
  seekTargetUs_ = AV_NOPTS_VALUE;
  if (context_ && ownsContext_) FF.avformat_close_input(&context_);
  context_ = nullptr;
  ownsContext_ = false;
  if (rgbBuffer_) FF.av_free(rgbBuffer_);
  rgbBuffer_ = nullptr;
  rgbBufferSize_ = 0;
  CountStreams();
}

void TAVProbe::CountStreams() {
  streamCount_ = programCount_ = -1;
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
  firstAudioStream_ = firstVideoStream_ = firstSubtitleStream_ = -1;
  if (!context_) return;
  streamCount_ = static_cast<int>(context_->nb_streams);
  programCount_ = static_cast<int>(context_->nb_programs);
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
  for (int i = 0; i < streamCount_; ++i) {
    switch (context_->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (videoStreamCount_++ == 0) firstVideoStream_ = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (audioStreamCount_++ == 0) firstAudioStream_ = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (subtitleStreamCount_++ == 0) firstSubtitleStream_ = i;
        break;
      default:
        break;
    }
  }
}

void TAVProbe::GetFormatInfo(TFormatInfo& info) const {
  info = TFormatInfo{};
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return;
  }
  info.StartTime = context_->start_time;
  info.Duration = context_->duration;
  info.BitRate = static_cast<int>(context_->bit_rate);
  // Containers record their date as text now; a date that does not parse
  // leaves the timestamp unknown (0).
  info.Timestamp = 0;
  const std::string created = Tag(context_->metadata, "creation_time");
  int64_t createdUs = 0;
  if (!created.empty() && FF.av_parse_time(&createdUs, created.c_str(), 0) >= 0)
    info.Timestamp = createdUs / 1000000;
  info.Title = Tag(context_->metadata, "title");
  info.Author = Tag(context_->metadata, "author");
  if (info.Author.empty()) info.Author = Tag(context_->metadata, "artist");
  info.Copyright = Tag(context_->metadata, "copyright");
  info.Comment = Tag(context_->metadata, "comment");
  info.Album = Tag(context_->metadata, "album");
  std::string year = Tag(context_->metadata, "date");
  if (year.empty()) year = Tag(context_->metadata, "year");
  info.Year = std::atoi(year.c_str());
  info.Track = std::atoi(Tag(context_->metadata, "track").c_str());
  info.Genre = Tag(context_->metadata, "genre");
}

void TAVProbe::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) const {
  info = TAudioStreamInfo{};
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return;
  }
  if (streamIndex < 0) {
    streamIndex = firstAudioStream_;
    if (streamIndex < 0) {
      EngineLog(0, "no audio stream.\n");
      return;
    }
  }
  if (streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    return;
  }
  const AVStream* stream = context_->streams[streamIndex];
  if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
    EngineLog(0, "stream #%d is not audio stream.\n", streamIndex);
    return;
  }
  FillCommonStreamInfo(stream, info);
  info.Channels = stream->codecpar->ch_layout.nb_channels;
  info.SampleRate = stream->codecpar->sample_rate;
  info.SampleFormat = stream->codecpar->format;
}

void TAVProbe::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info) const {
  info = TVideoStreamInfo{};
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return;
  }
  if (streamIndex < 0) {
    streamIndex = firstVideoStream_;
    if (streamIndex < 0) {
      EngineLog(0, "no video stream.\n");
      return;
    }
  }
  if (streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    return;
  }
  const AVStream* stream = context_->streams[streamIndex];
  const AVCodecParameters* parameters = stream->codecpar;
  if (parameters->codec_type != AVMEDIA_TYPE_VIDEO) {
    EngineLog(0, "stream #%d is not video stream.\n", streamIndex);
    return;
  }
  FillCommonStreamInfo(stream, info);
  info.Height = parameters->height;
  info.Width = parameters->width;
  // An unknown sample aspect (0/1) means square pixels.
  AVRational sampleAspect = parameters->sample_aspect_ratio;
  if (sampleAspect.num <= 0 || sampleAspect.den <= 0) sampleAspect = AVRational{1, 1};
  info.DisplayAspect = parameters->height > 0
                           ? static_cast<float>(av_q2d(sampleAspect) * parameters->width / parameters->height)
                           : -1.0f;
  info.PixelFormat = parameters->format;
  info.FrameRateNum = stream->r_frame_rate.num;
  info.FrameRateDen = stream->r_frame_rate.den;
}

std::string TAVProbe::GetFileName() const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return "";
  }
  return context_->url ? std::string(context_->url).substr(0, 1024) : "";
}

std::string TAVProbe::GetFormatName() const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return "";
  }
  return context_->iformat ? context_->iformat->name : "";
}

int64_t TAVProbe::GetFileSize() const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return -1;
  }
  const int64_t contextSize = context_->pb ? FF.avio_size(context_->pb) : 0;
  if (contextSize > 0) return contextSize;
  const int64_t diskSize = FileSizeByName(context_->url ? context_->url : "");
  return diskSize >= 0 ? diskSize : contextSize;
}

bool TAVProbe::IsAudioStream(int streamIndex) const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return false;
  }
  if (streamIndex < 0 || streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    return false;
  }
  return context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TAVProbe::IsVideoStream(int streamIndex) const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return false;
  }
  if (streamIndex < 0 || streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    return false;
  }
  return context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

bool TAVProbe::IsImage2() const {
  return context_ && context_->iformat && strcasecmp(context_->iformat->name, "image2") == 0;
}

std::string TAVProbe::StreamLine(int index) const {
  const AVStream* stream = context_->streams[index];
  std::string line = FormatText("Stream #%d", index);
  if (context_->iformat && (context_->iformat->flags & AVFMT_SHOW_IDS))
    line += FormatText("[0x%x]", stream->id);
  const std::string language = Trimmed(Tag(stream->metadata, "language"));
  if (!language.empty()) line += "(" + language + ")";
  const int64_t divisor = FF.av_gcd(stream->time_base.num, stream->time_base.den);
  if (divisor > 0)
    line += FormatText(", %d/%d", static_cast<int>(stream->time_base.num / divisor),
                       static_cast<int>(stream->time_base.den / divisor));

  // The description the library gives for a decoder set up from the stream.
  char description[256] = {};
  if (AVCodecContext* codec = FF.avcodec_alloc_context3(nullptr)) {
    if (FF.avcodec_parameters_to_context(codec, stream->codecpar) >= 0)
      FF.avcodec_string(description, sizeof description, codec, 0);
    FF.avcodec_free_context(&codec);
  }
  line += ": ";
  line += description;

  if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    if (stream->r_frame_rate.num != 0 && stream->r_frame_rate.den != 0)
      line += FormatText(", %5.2f tb(r)", av_q2d(stream->r_frame_rate));
    else
      line += FormatText(", %5.2f tb(c)", stream->avg_frame_rate.den ? av_q2d(stream->avg_frame_rate) : 0.0);
  }
  if (stream->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + StartTimeText(ToMicroseconds(stream->start_time, stream->time_base));
  if (stream->duration == AV_NOPTS_VALUE)
    line += ", Duration: N/A";
  else
    line += ", Duration: " + FormatDurationText(ToMicroseconds(stream->duration, stream->time_base));
  return line;
}

std::string TAVProbe::GetInfoText() const {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    return "";
  }
  std::vector<std::string> lines;
  const AVInputFormat* format = context_->iformat;
  lines.push_back(FormatText("File Name: %s", context_->url ? context_->url : ""));
  lines.push_back(FormatText("Format Name: %s", format ? format->name : ""));
  lines.push_back(FormatText("Format Long Name: %s", format && format->long_name ? format->long_name : ""));
  lines.push_back("File Size: " + FormatByteSize(GetFileSize()));

  TFormatInfo info;
  GetFormatInfo(info);
  if (info.StartTime != AV_NOPTS_VALUE) lines.push_back("StartTime: " + StartTimeText(info.StartTime));
  lines.push_back(info.Duration == AV_NOPTS_VALUE ? "Duration: N/A"
                                                  : "Duration: " + FormatDurationText(info.Duration));
  lines.push_back(info.BitRate < 1 ? "Bit Rate: N/A" : FormatText("Bit Rate: %d Kbps", info.BitRate / 1000));
  if (info.Timestamp > 0)
    lines.push_back("Time Stamp: " +
                    FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocalDateTime(info.Timestamp)));
  const std::pair<const char*, const std::string*> texts[] = {
      {"Title", &info.Title},     {"Author", &info.Author}, {"Copyright", &info.Copyright},
      {"Comment", &info.Comment}, {"Album", &info.Album},   {"Genre", &info.Genre}};
  for (const auto& [caption, text] : texts)
    if (!text->empty()) lines.push_back(std::string(caption) + ": " + *text);
  if (info.Year > 0) lines.push_back(FormatText("Year: %d", info.Year));
  if (info.Track > 0) lines.push_back(FormatText("Track: #%d", info.Track));

  if (programCount_ == 0) {
    for (int i = 0; i < streamCount_; ++i) lines.push_back(StreamLine(i));
  } else {
    for (int p = 0; p < programCount_; ++p) {
      const AVProgram* program = context_->programs[p];
      lines.push_back(FormatText("Program %d %s@%s", program->id,
                                 Tag(program->metadata, "service_name").c_str(),
                                 Tag(program->metadata, "service_provider").c_str()));
      for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
        const int index = static_cast<int>(program->stream_index[s]);
        if (index < streamCount_) lines.push_back(StreamLine(index));
      }
    }
  }

  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}
