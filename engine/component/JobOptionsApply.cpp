// Applying the job option records to a session.
#include "engine/component/JobOptionsApply.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "engine/binding/MyUtils.h"

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Milliseconds text as microseconds; -1 ms when the text is not a whole
// decimal number or the microseconds would not fit.
int64_t MillisecondsTextToUs(const std::string& text) {
  constexpr int64_t kUnreadable = -1000;
  if (text.empty()) return kUnreadable;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return kUnreadable;
  if (value > INT64_MAX / 1000 || value < INT64_MIN / 1000) return kUnreadable;
  return static_cast<int64_t>(value) * 1000;
}

// The record's text fields stand for zero-terminated character arrays.
std::string ArrayText(const std::string& field, size_t arraySize) {
  std::string text = field.substr(0, std::min(field.find('\0'), arraySize));
  return text;
}

void SetText(std::string& target, const std::string& field, size_t arraySize) {
  const std::string text = ArrayText(field, arraySize);
  if (!text.empty()) target = text;
}

void OptionIfNotNegative(TCustomFFmpeg& session, const char* name, int32_t value) {
  if (value >= 0) session.ParseOption(name, std::to_string(value));
}

void GenericIfPositive(TCustomFFmpeg& session, const char* name, int32_t value) {
  if (value > 0) session.SetGenericOptionInt(name, value);
}

const char* TargetName(int32_t target) {
  switch (target) {
    case 1:
      return "vcd";
    case 2:
      return "svcd";
    case 3:
      return "dvd";
    default:
      return nullptr;
  }
}

}  // namespace

void ApplyInputOptions(TCustomFFmpeg& session, const TInputOptions& options) {
  session.ParseOptionText(options.ExtOptions);
  session.SetForcedInputFormat(options.FileFormat);
  const int64_t startTime = int64_t{options.StartTime} * 1000;
  if (startTime > 0) session.StartTime = startTime;
  if (options.ProgramID >= 0) session.ProgramId = options.ProgramID;
}

void ApplyOutputOptions(TCustomFFmpeg& session, const TOutputOptions& o) {
  TCustomFFmpeg& s = session;
  s.ParseOptionText(o.ExtOptions);

  s.SetForcedOutputFormat(o.FileFormat);
  GenericIfPositive(s, "packetsize", o.PacketSize);
  GenericIfPositive(s, "muxrate", o.MuxRate);
  if (o.MuxDelay > 0) s.MuxMaxDelay = o.MuxDelay;
  if (o.MuxPreloadTime > 0) s.MuxPreload = o.MuxPreloadTime;

  if (!o.AudioCodec.empty()) s.ParseOption("acodec", o.AudioCodec);
  if (o.DisableAudio) s.AudioDisable = 1;
  if (o.AudioVolume >= 0) s.AudioVolume = o.AudioVolume;
  s.ParseOption("ac", std::to_string(o.AudioChannels));
  s.ParseOption("ar", std::to_string(o.AudioSampleRate));
  GenericIfPositive(s, "ab", o.AudioBitrate);
  GenericIfPositive(s, "abt", o.AudioBitrateTolerance);
  s.AudioLanguage = o.AudioLanguage;
  s.AudioSyncMethod = o.AudioSyncMethod;
  s.ParseOption("atag", o.AudioTag);

  s.ParseOption("vcodec", o.VideoCodec);
  if (o.DisableVideo) s.VideoDisable = 1;
  s.ParseOption("r", o.FrameRateText);
  s.ParseOption("s", o.FrameSize);
  s.ParseOption("aspect", o.AspectRatio);
  OptionIfNotNegative(s, "croptop", o.CropTop);
  OptionIfNotNegative(s, "cropbottom", o.CropBottom);
  OptionIfNotNegative(s, "cropleft", o.CropLeft);
  OptionIfNotNegative(s, "cropright", o.CropRight);
  OptionIfNotNegative(s, "padtop", o.PadTop);
  OptionIfNotNegative(s, "padbottom", o.PadBottom);
  OptionIfNotNegative(s, "padleft", o.PadLeft);
  OptionIfNotNegative(s, "padright", o.PadRight);
  // Always applied: the record's black (0) is true black, darker than the
  // session's default padding colour.
  s.ParseOption("padcolor", std::to_string(ColorToRGB(o.PadColor)));
  GenericIfPositive(s, "gop", o.GOP);
  GenericIfPositive(s, "vb", o.VideoBitrate);
  GenericIfPositive(s, "maxrate", o.MaxRate);
  GenericIfPositive(s, "minrate", o.MinRate);
  GenericIfPositive(s, "bt", o.BitrateTolerance);
  GenericIfPositive(s, "bufsize", o.BufSize);
  s.VideoSyncMethod = o.VideoSyncMethod;
  s.ParseOption("vtag", o.VideoTag);
  if (!o.VideoFilters.empty()) s.ParseOption("vfilters", o.VideoFilters);

  if (o.DisableSubtitle) s.SubtitleDisable = 1;
  s.SubtitleLanguage = o.SubtitleLanguage;
  s.CopyTs = o.CopyTimestamp;
  if (o.Duration > 0) {
    s.RecordingTime = int64_t{o.Duration} * 1000;
    s.TotalDuration = o.Duration;
  }

  if (o.Timestamp == 0) {
    s.RecTimestamp = static_cast<int64_t>(time(nullptr));
  } else if (o.Timestamp > 0) {
    s.RecTimestamp = DateTimeToUnixTime(o.Timestamp);
  }
  if (o.Year > 0) s.Year = o.Year;
  if (o.Track > 0) s.Track = o.Track;
  SetText(s.Title, o.Title, kMetadataTextSize);
  SetText(s.Author, o.Author, kMetadataTextSize);
  SetText(s.Copyright, o.Copyright, kMetadataTextSize);
  SetText(s.Comment, o.Comment, kMetadataTextSize);
  SetText(s.Album, o.Album, kMetadataTextSize);
  SetText(s.Genre, o.Genre, kGenreTextSize);

  if (const char* target = TargetName(o.Target)) {
    const char* norm = o.TargetNorm == 1 ? "pal" : o.TargetNorm == 2 ? "ntsc" : "auto";
    s.SetTarget(target, norm, o.TargetFallbackNorm == 1 ? "pal" : "ntsc");
  }
}

std::vector<THookRange> ParseHookTimeRanges(const std::string& text) {
  std::string rest = Trim(text);
  std::vector<THookRange> ranges;
  ranges.reserve(static_cast<size_t>(std::count(rest.begin(), rest.end(), ',')) + 1);
  while (!rest.empty()) {
    std::string part;
    SplitAtSeparator(rest, ",", true, part);
    part = Trim(part);
    const size_t dash = part.find('-');
    const std::string startText = Trim(part.substr(0, dash));
    const std::string endText = dash == std::string::npos ? "" : Trim(part.substr(dash + 1));
    THookRange range;
    range.Start = MillisecondsTextToUs(startText);
    range.End = MillisecondsTextToUs(endText);
    if (range.End >= range.Start && range.End >= 0) ranges.push_back(range);
  }
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const THookRange& a, const THookRange& b) { return a.End < b.End; });
  return ranges;
}

int64_t DateTimeToUnixTime(double localDateTime) {
  // LocalTimeZoneBias is the local offset east of UTC in days: UTC = local - offset.
  return std::llround((localDateTime - 25569.0 - LocalTimeZoneBias()) * 86400.0);
}

int32_t ColorToRGB(int32_t color) {
  return color < 0 ? 0 : color;
}
