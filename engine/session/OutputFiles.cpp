// Creating an output: muxer choice, media types, streams, metadata, file.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

// True when a filter of the chain changes the picture size.
bool ChainResizesFrame(const std::string& chain) {
  std::string lower = chain;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string resizing = ",crop,rotate,scale,transpose,";
  size_t start = 0;
  while (start <= lower.size()) {
    size_t end = lower.find(',', start);
    if (end == std::string::npos) end = lower.size();
    const std::string part = lower.substr(start, end - start);
    const std::string name = part.substr(0, part.find('='));
    if (resizing.find("," + name + ",") != std::string::npos) return true;
    start = end + 1;
  }
  return false;
}

// At most maxBytes bytes of text, cut at a character boundary.
std::string Clipped(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// An output under construction: closes and frees it unless released, and
// removes the file when it was created here and nothing was written.
struct TPendingOutput {
  AVFormatContext* Context = nullptr;
  TOutputFileRecord* Record = nullptr;
  ~TPendingOutput() {
    if (!Context) return;
    if (Context->pb && !(Context->oformat->flags & AVFMT_NOFILE)) FF.avio_closep(&Context->pb);
    if (Record) {
      Record->Streams.clear();
      if (Record->OpenedForWriting && FileSizeByName(Record->FileName) == 0) unlink(Record->FileName.c_str());
    }
    FF.avformat_free_context(Context);
  }
};

}  // namespace

void TCustomFFmpeg::SetForcedOutputFormat(const std::string& name) {
  if (name.empty()) return;
  std::string format = name;
  if (format == "pgmyuv") {
    PgmyuvCompatibility = 1;
    format = "image2";
    Log(1, "pgmyuv format is deprecated, use image2");
  }
  ForcedOutputFormat = FF.av_guess_format(format.c_str(), nullptr, nullptr);
  if (!ForcedOutputFormat) throw FFMpegException(FormatText("Unknown output format: %s", name.c_str()));
}

bool TCustomFFmpeg::OpenOutputFile(const std::string& fileName) {
  if (OutputFileCount >= MaxFiles)
    throw FFMpegException(FormatText("Too many output files: at most %d are allowed", MaxFiles));
  auto fail = [this](const std::string& message) {
    LastError = message;
    ForcedOutputFormat = nullptr;
    ForcedInputFormat = nullptr;
    return false;
  };

  if (!VideoFilters.empty() && CropTop + CropBottom + CropLeft + CropRight != 0)
    return fail("Cannot enable crop options and filters at the same time.");
  if (PadTop + PadBottom + PadLeft + PadRight != 0 && ChainResizesFrame(VideoFilters))
    return fail(
        "Cannot enable pad options and the filters which resize frame at the same time. "
        "(crop, rotate, scale, transpose, etc.)");
  UseFilters = !VideoFilters.empty();
  EnsureOptionHolders();

  if (!ForcedOutputFormat) ForcedOutputFormat = FF.av_guess_format(nullptr, fileName.c_str(), nullptr);
  if (!ForcedOutputFormat)
    return fail(FormatText("Unable to find a suitable output format for '%s'", fileName.c_str()));
  const AVOutputFormat* muxer = ForcedOutputFormat;

  TOutputFileRecord record;
  record.FileName = fileName;
  TPendingOutput pending;
  if (FF.avformat_alloc_output_context2(&pending.Context, muxer, nullptr, fileName.c_str()) < 0 ||
      !pending.Context)
    return fail(FormatOpenError(fileName, AVERROR(ENOMEM)));
  pending.Record = &record;
  AVFormatContext* output = pending.Context;
  // Muxers that write further files (segments, playlists) may only write
  // local files.
  FF.av_opt_set(output, "protocol_whitelist", "file", 0);

  bool wantVideo = VideoStreamCopy || muxer->video_codec != AV_CODEC_ID_NONE || !VideoCodecName.empty();
  bool wantAudio = AudioStreamCopy || muxer->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty();
  bool wantSubtitle =
      SubtitleStreamCopy || muxer->subtitle_codec != AV_CODEC_ID_NONE || !SubtitleCodecName.empty();
  if (InputFileCount > 0) {
    bool hasVideo = false, hasAudio = false, hasSubtitle = false;
    try {
      ScanInputStreamTypes(hasVideo, hasAudio, hasSubtitle);
    } catch (const FFMpegException& e) {
      return fail(FormatText("check_audio_video_sub_inputs fail: %s", e.what()));
    }
    wantVideo = wantVideo && hasVideo;
    wantAudio = wantAudio && hasAudio;
    wantSubtitle = wantSubtitle && hasSubtitle;
  }

  pendingOutput_ = output;
  pendingRecord_ = &record;
  struct TClearPending {
    TCustomFFmpeg* Session;
    ~TClearPending() {
      Session->pendingOutput_ = nullptr;
      Session->pendingRecord_ = nullptr;
    }
  } clearPending{this};

  const bool audioDisabled = AudioDisable != 0;
  const bool subtitleDisabled = SubtitleDisable != 0;
  if (!VideoDisable && wantVideo) {
    try {
      NewVideoStream(output);
    } catch (const FFMpegException& e) {
      return fail(FormatText("new_video_stream fail: %s", e.what()));
    }
  }
  if (!audioDisabled && wantAudio) {
    try {
      NewAudioStream(output);
    } catch (const FFMpegException& e) {
      return fail(FormatText("new_audio_stream fail: %s", e.what()));
    }
  }
  if (!subtitleDisabled && wantSubtitle) {
    try {
      NewSubtitleStream(output);
    } catch (const FFMpegException& e) {
      return fail(FormatText("new_subtitle_stream fail: %s", e.what()));
    }
  }

  auto setMetadata = [&](const char* key, const std::string& value, size_t maxBytes) {
    if (!value.empty()) FF.av_dict_set(&output->metadata, key, Clipped(value, maxBytes).c_str(), 0);
  };
  if (RecTimestamp != 0) {
    const time_t seconds = static_cast<time_t>(RecTimestamp);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    setMetadata("creation_time",
                FormatText("%04d-%02d-%02dT%02d:%02d:%02d.000000Z", utc.tm_year + 1900, utc.tm_mon + 1,
                           utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec),
                511);
  }
  setMetadata("title", Title, 511);
  setMetadata("artist", Author, 511);
  setMetadata("copyright", Copyright, 511);
  setMetadata("comment", Comment, 511);
  setMetadata("album", Album, 511);
  if (Year > 0) setMetadata("date", std::to_string(Year), 511);
  if (Track > 0) setMetadata("track", std::to_string(Track), 511);
  setMetadata("genre", Genre, 31);

  if ((muxer->flags & AVFMT_NEEDNUMBER) && !FF.av_filename_number_test(fileName.c_str()))
    return fail(FormatOpenError(fileName, AVERROR(EDOM)));

  if (!(muxer->flags & AVFMT_NOFILE)) {
    // An existing file of this name is overwritten: the application picks
    // names that do not exist yet.
    AVDictionary* ioOptions = nullptr;
    FF.av_dict_set(&ioOptions, "protocol_whitelist", "file", 0);
    const int opened = FF.avio_open2(&output->pb, fileName.c_str(), AVIO_FLAG_WRITE, nullptr, &ioOptions);
    FF.av_dict_free(&ioOptions);
    if (opened < 0) return fail(FormatText("Could not open '%s'", fileName.c_str()));
    record.OpenedForWriting = true;
  }

  output->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
  ApplyMuxerPrivateOptions(output, record);
  SetContextOptions(output, FormatOptions, AV_OPT_FLAG_ENCODING_PARAM);

  const int index = OutputFileCount;
  OutputFiles[index] = output;
  outputRecords_[index] = std::move(record);
  pending.Context = nullptr;
  pending.Record = nullptr;
  ++OutputFileCount;
  ForcedOutputFormat = nullptr;
  ForcedInputFormat = nullptr;
  return true;
}
