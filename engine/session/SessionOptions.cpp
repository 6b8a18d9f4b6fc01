// The option table: ParseOption and the name=value text form.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/ProgramFolder.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw FFMpegException(message);
}

// Text without leading and trailing blanks and control characters.
std::string Trim(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

// Strict conversions: the whole text (blanks around it aside) must be the
// number. Decimal, or hexadecimal with a "0x" or "$" prefix.
bool TryParseInt64(const std::string& text, int64_t& number) {
  const std::string trimmed = Trim(text);
  const char* p = trimmed.c_str();
  const char* end = p + trimmed.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int base = 10;
  if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p < end && *p == '$') {
    base = 16;
    ++p;
  }
  if (p == end || *p == '+' || *p == '-') return false;
  uint64_t magnitude = 0;
  const auto [stop, error] = std::from_chars(p, end, magnitude, base);
  if (error != std::errc() || stop != end) return false;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  if (magnitude > limit) return false;
  number = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t StrToInt64(const std::string& text) {
  int64_t number = 0;
  if (!TryParseInt64(text, number)) Fail(FormatText("'%s' is not a valid integer value", text.c_str()));
  return number;
}

int StrToInt(const std::string& text) {
  int64_t number = 0;
  if (!TryParseInt64(text, number) || number < INT32_MIN || number > INT32_MAX)
    Fail(FormatText("'%s' is not a valid integer value", text.c_str()));
  return static_cast<int>(number);
}

bool TryParseDouble(const std::string& text, double& number) {
  const std::string trimmed = Trim(text);
  const char* p = trimmed.c_str();
  const char* end = p + trimmed.size();
  if (p < end && *p == '+') ++p;
  if (p == end || *p == '+') return false;
  const auto [stop, error] = std::from_chars(p, end, number);
  return error == std::errc() && stop == end && std::isfinite(number);
}

double StrToFloat(const std::string& text) {
  double number = 0;
  if (!TryParseDouble(text, number))
    Fail(FormatText("'%s' is not a valid floating point value", text.c_str()));
  return number;
}

// C-style lenient readers: the longest number at the start of p; p moves past it.
long ReadLong(const char*& p) {
  char* stop = nullptr;
  const long number = std::strtol(p, &stop, 0);
  p = stop;
  return number;
}

double ReadDouble(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  const char* start = p;
  if (*start == '+') ++start;
  double number = 0;
  const auto [stop, error] = std::from_chars(start, start + std::strlen(start), number);
  if (error != std::errc()) return 0;
  p = stop;
  return number;
}

int64_t ParseTimeValue(const std::string& optionName, const std::string& value, bool duration) {
  int64_t microseconds = 0;
  if (FF.av_parse_time(&microseconds, value.c_str(), duration ? 1 : 0) < 0 || microseconds == INT64_MIN)
    Fail(FormatText("Invalid %s specification for %s: %s", duration ? "duration" : "date", optionName.c_str(),
                    value.c_str()));
  return microseconds;
}

}  // namespace

struct TCustomFFmpeg::TOptionEntry {
  const char* Name;
  void (*Handler)(TCustomFFmpeg& session, const std::string& name, const std::string& value);
};

const std::vector<TCustomFFmpeg::TOptionEntry>& TCustomFFmpeg::OptionTable() {
  using S = TCustomFFmpeg;
  using T = const std::string&;
  auto doNothing = [](S& s, T name, T) { s.Log(1, "Do nothing: option - %s", name.c_str()); };
  static const std::vector<TOptionEntry> table = {
      {"L", doNothing},
      {"h", doNothing},
      {"version", doNothing},
      {"formats", doNothing},
      {"f",
       [](S& s, T, T value) {
         if (value.empty()) return;
         std::string format = value;
         if (format == "pgmyuv") {
           s.PgmyuvCompatibility = 1;
           format = "image2";
           s.Log(1, "pgmyuv format is deprecated, use image2");
         }
         s.ForcedInputFormat = FF.av_find_input_format(format.c_str());
         s.ForcedOutputFormat = FF.av_guess_format(format.c_str(), nullptr, nullptr);
         if (!s.ForcedInputFormat && !s.ForcedOutputFormat)
           Fail(FormatText("Unknown input or output format: %s", format.c_str()));
       }},
      {"i", doNothing},
      {"y", doNothing},
      {"map",
       [](S& s, T, T value) {
         if (s.StreamMapCount >= MaxStreamMaps)
           Fail(FormatText("Too many stream maps: at most %d are allowed", MaxStreamMaps));
         TStreamMap map;
         const char* p = value.c_str();
         map.FileIndex = static_cast<int>(ReadLong(p));
         if (*p) ++p;
         map.StreamIndex = static_cast<int>(ReadLong(p));
         if (*p) {
           ++p;
           map.SyncFileIndex = static_cast<int>(ReadLong(p));
           if (*p) ++p;
           map.SyncStreamIndex = static_cast<int>(ReadLong(p));
         } else {
           map.SyncFileIndex = map.FileIndex;
           map.SyncStreamIndex = map.StreamIndex;
         }
         s.StreamMaps[s.StreamMapCount++] = map;
       }},
      {"map_meta_data",
       [](S& s, T, T value) {
         if (s.MetaDataMapCount >= MaxMetaDataMaps)
           Fail(FormatText("Too many metadata maps: at most %d are allowed", MaxMetaDataMaps));
         TMetaDataMap map;
         const char* p = value.c_str();
         map.OutFileIndex = static_cast<int>(ReadLong(p));
         if (*p) ++p;
         map.InFileIndex = static_cast<int>(ReadLong(p));
         s.MetaDataMaps[s.MetaDataMapCount++] = map;
       }},
      {"t",
       [](S& s, T name, T value) {
         const int64_t milliseconds = ParseTimeValue(name, value, true) / 1000;
         if (milliseconds <= 0) return;
         s.RecordingTime = milliseconds * 1000;
         s.TotalDuration = milliseconds;
       }},
      {"fs", [](S& s, T, T value) { s.LimitFileSize = StrToInt64(value); }},
      {"ss", [](S& s, T name, T value) { s.StartTime = ParseTimeValue(name, value, true); }},
      {"itsoffset", [](S& s, T name, T value) { s.InputTsOffset = ParseTimeValue(name, value, true); }},
      {"itsscale",
       [](S& s, T, T value) {
         const char* p = value.c_str();
         const long stream = ReadLong(p);
         if (*p) ++p;
         const double scale = ReadDouble(p);
         if (stream < 0 || stream >= MaxStreams) Fail(FormatText("stream index over MAX_STREAMS(%d)", MaxStreams));
         if (s.InputFileCount >= MaxFiles)
           Fail(FormatText("Too many input files: at most %d are allowed", MaxFiles));
         s.InputTsScales[s.InputFileCount][stream] = scale;
       }},
      {"title", [](S& s, T, T value) { s.Title = value; }},
      {"timestamp",
       [](S& s, T name, T value) {
         s.RecTimestamp = std::llround(static_cast<double>(ParseTimeValue(name, value, false)) / 1000000.0);
       }},
      {"author", [](S& s, T, T value) { s.Author = value; }},
      {"copyright", [](S& s, T, T value) { s.Copyright = value; }},
      {"comment", [](S& s, T, T value) { s.Comment = value; }},
      {"genre", [](S& s, T, T value) { s.Genre = value; }},
      {"album", [](S& s, T, T value) { s.Album = value; }},
      {"dframes", [](S& s, T, T value) { s.MaxFrames[AVMEDIA_TYPE_DATA] = StrToInt(value); }},
      {"benchmark", doNothing},
      {"dump", [](S& s, T, T) { s.DoPktDump = 1; }},
      {"hex", [](S& s, T, T) { s.DoHexDump = 1; }},
      {"re", [](S& s, T, T) { s.RateEmu = 1; }},
      {"loop_input", [](S& s, T, T) { s.LoopInput = 1; }},
      {"loop_output", [](S& s, T, T value) { s.LoopOutput = StrToInt(value); }},
      {"v", [](S& s, T, T value) { s.SetVerbose(StrToInt(value)); }},
      {"target",
       [](S& s, T, T value) {
         std::string target = Trim(value);
         std::string norm = "auto";
         for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
           const std::string text = prefix;
           if (target.compare(0, text.size(), text) == 0) {
             norm = text.substr(0, text.size() - 1);
             target.erase(0, text.size());
             break;
           }
         }
         s.SetTarget(target, norm, "ntsc");
       }},
      {"threads", [](S&, T name, T) { Fail("TODO: option - " + name); }},
      {"vsync", [](S& s, T, T value) { s.VideoSyncMethod = StrToInt(value); }},
      {"async", [](S& s, T, T value) { s.AudioSyncMethod = StrToInt(value); }},
      {"adrift_threshold", [](S& s, T, T value) { s.AudioDriftThreshold = static_cast<float>(StrToFloat(value)); }},
      {"vglobal", [](S& s, T, T value) { s.VideoGlobalHeader = StrToInt(value); }},
      {"copyts", [](S& s, T, T) { s.CopyTs = true; }},
      {"shortest", [](S& s, T, T) { s.Shortest = 1; }},
      {"dts_delta_threshold",
       [](S& s, T, T value) { s.DtsDeltaThreshold = static_cast<float>(StrToFloat(value)); }},
      {"programid", [](S& s, T, T value) { s.ProgramId = StrToInt(value); }},
      {"xerror", [](S& s, T, T) { s.ExitOnError = true; }},
      {"b", [](S& s, T name, T value) { s.ApplyBitRate(name, value); }},
      {"vb", [](S& s, T name, T value) { s.ApplyBitRate(name, value); }},
      {"vframes", [](S& s, T, T value) { s.MaxFrames[AVMEDIA_TYPE_VIDEO] = StrToInt(value); }},
      {"r",
       [](S& s, T, T value) {
         if (value.empty()) return;
         AVRational rate{0, 0};
         if (FF.av_parse_video_rate(&rate, value.c_str()) < 0) Fail("Incorrect frame rate");
         s.FrameRate = rate;
       }},
      {"s", [](S& s, T, T value) { s.ApplyFrameSize(value); }},
      {"aspect", [](S& s, T, T value) { s.ApplyAspect(value); }},
      {"pix_fmt",
       [](S& s, T, T value) {
         if (value == "list")
           s.LogPixelFormats();
         else
           s.FramePixFmt = FF.av_get_pix_fmt(value.c_str());
       }},
      {"croptop", [](S& s, T name, T value) { s.ApplyCrop(name, value); }},
      {"cropbottom", [](S& s, T name, T value) { s.ApplyCrop(name, value); }},
      {"cropleft", [](S& s, T name, T value) { s.ApplyCrop(name, value); }},
      {"cropright", [](S& s, T name, T value) { s.ApplyCrop(name, value); }},
      {"padtop", [](S& s, T name, T value) { s.ApplyPad(name, value); }},
      {"padbottom", [](S& s, T name, T value) { s.ApplyPad(name, value); }},
      {"padleft", [](S& s, T name, T value) { s.ApplyPad(name, value); }},
      {"padright", [](S& s, T name, T value) { s.ApplyPad(name, value); }},
      {"padcolor",
       [](S& s, T, T value) {
         const int color = StrToInt(value);
         const int r = color & 255, g = (color >> 8) & 255, b = (color >> 16) & 255;
         // BT.601 scaled by 1024; >> on a negative value is a floor division.
         s.PadColor[0] = ((307 * r + 602 * g + 117 * b + 512) >> 10) & 255;
         s.PadColor[1] = (((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128) & 255;
         s.PadColor[2] = (((512 * r - 429 * g - 84 * b + 511) >> 10) + 128) & 255;
       }},
      {"intra", [](S& s, T, T) { s.IntraOnly = 1; }},
      {"vn", [](S& s, T, T) { s.VideoDisable = 1; }},
      {"vdt", [](S& s, T, T value) { s.VideoDiscard = StrToInt(value); }},
      {"qscale",
       [](S& s, T, T value) {
         const double q = StrToFloat(value);
         if (q <= 0 || q > 255) Fail("qscale must be > 0.0 and <= 255");
         s.VideoQScale = static_cast<float>(q);
       }},
      {"rc_override", [](S& s, T, T value) { s.VideoRcOverride = value; }},
      {"vcodec", [](S& s, T, T value) { s.ApplyCodecName('v', value); }},
      {"me_threshold", [](S& s, T, T value) { s.MeThreshold = StrToInt(value); }},
      {"sameq", [](S& s, T, T) { s.SameQuality = 1; }},
      {"pass",
       [](S& s, T, T value) {
         const int pass = StrToInt(value);
         if (pass != 1 && pass != 2) Fail("pass number can be only 1 or 2");
         s.DoPass = pass;
       }},
      {"passlogfile", [](S& s, T, T value) { s.PassLogFilePrefix = value; }},
      {"deinterlace", [](S& s, T, T) { s.Deinterlace = 1; }},
      {"psnr", [](S& s, T, T) { s.DoPsnr = 1; }},
      {"vstats",
       [](S& s, T, T) {
         const time_t now = time(nullptr);
         struct tm local {};
         localtime_r(&now, &local);
         s.VStatsFileName = FormatText("%svstats_%02d%02d%02d.log", ProgramFolder().c_str(), local.tm_hour,
                                       local.tm_min, local.tm_sec);
       }},
      {"vstats_file", [](S& s, T, T value) { s.VStatsFileName = value; }},
      {"vhook", [](S& s, T, T value) { s.ApplyVideoHook(value); }},
      {"vfilters", [](S& s, T, T value) { s.VideoFilters = value; }},
      {"intra_matrix", [](S& s, T, T value) { s.ApplyMatrix(s.IntraMatrix, value); }},
      {"inter_matrix", [](S& s, T, T value) { s.ApplyMatrix(s.InterMatrix, value); }},
      {"top", [](S& s, T, T value) { s.TopFieldFirst = StrToInt(value); }},
      {"dc", [](S& s, T, T value) { s.IntraDcPrecision = StrToInt(value); }},
      {"vtag", [](S& s, T, T value) { s.ApplyCodecTag('v', value); }},
      {"newvideo", [](S& s, T, T) { s.NewVideoStream(s.LastOutput()); }},
      {"qphist", [](S& s, T, T) { s.QpHist = 1; }},
      {"ab", [](S& s, T name, T value) { s.ApplyBitRate(name, value); }},
      {"aframes", [](S& s, T, T value) { s.MaxFrames[AVMEDIA_TYPE_AUDIO] = StrToInt(value); }},
      {"aq", [](S& s, T, T value) { s.AudioQScale = static_cast<float>(StrToFloat(value)); }},
      {"ar",
       [](S& s, T, T value) {
         const int rate = StrToInt(value);
         if (rate > 0) s.AudioSampleRate = rate;
       }},
      {"ac",
       [](S& s, T, T value) {
         const int channels = StrToInt(value);
         if (channels > 0) s.AudioChannels = channels;
       }},
      {"an", [](S& s, T, T) { s.AudioDisable = 1; }},
      {"acodec", [](S& s, T, T value) { s.ApplyCodecName('a', value); }},
      {"atag", [](S& s, T, T value) { s.ApplyCodecTag('a', value); }},
      {"vol", [](S& s, T, T value) { s.AudioVolume = StrToInt(value); }},
      {"newaudio", [](S& s, T, T) { s.NewAudioStream(s.LastOutput()); }},
      {"alang", [](S& s, T, T value) { s.AudioLanguage = value; }},
      {"sample_fmt",
       [](S& s, T, T value) {
         if (value == "list")
           s.LogSampleFormats();
         else
           s.AudioSampleFmt = FF.av_get_sample_fmt(value.c_str());
       }},
      {"sn", [](S& s, T, T) { s.SubtitleDisable = 1; }},
      {"scodec", [](S& s, T, T value) { s.ApplyCodecName('s', value); }},
      {"newsubtitle", [](S& s, T, T) { s.NewSubtitleStream(s.LastOutput()); }},
      {"slang", [](S& s, T, T value) { s.SubtitleLanguage = value; }},
      {"vc", [](S& s, T, T value) { s.VideoChannel = StrToInt(value); }},
      {"tvstd", [](S& s, T, T value) { s.VideoStandard = value; }},
      {"isync", [](S& s, T, T) { s.InputSync = 1; }},
      {"muxdelay", [](S& s, T, T value) { s.MuxMaxDelay = static_cast<float>(StrToFloat(value)); }},
      {"muxpreload", [](S& s, T, T value) { s.MuxPreload = static_cast<float>(StrToFloat(value)); }},
      {"absf", [](S& s, T, T value) { s.ApplyBitstreamFilter('a', value); }},
      {"vbsf", [](S& s, T, T value) { s.ApplyBitstreamFilter('v', value); }},
      {"sbsf", [](S& s, T, T value) { s.ApplyBitstreamFilter('s', value); }},
      {"apre", doNothing},
      {"vpre", doNothing},
      {"spre", doNothing},
  };
  return table;
}

const std::vector<std::string>& TCustomFFmpeg::OptionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const TOptionEntry& entry : OptionTable()) list.emplace_back(entry.Name);
    return list;
  }();
  return names;
}

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value) {
  for (const TOptionEntry& entry : OptionTable()) {
    if (name == entry.Name) {
      entry.Handler(*this, name, value);
      return;
    }
  }
  SetGenericOption(name, value);
}

void TCustomFFmpeg::ParseOptionText(const std::string& input) {
  std::string text;
  const std::string trimmed = Trim(input);
  text.reserve(trimmed.size());
  for (size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == '\r') {
      text += '\n';
      if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
    } else {
      text += trimmed[i];
    }
  }
  while (!text.empty()) {
    std::string line, name;
    SplitAtSeparator(text, "\n", true, line);
    // Name and value are taken as written: "qscale = 5" names "qscale ".
    SplitAtSeparator(line, "=", true, name);
    ParseOption(name, line);
  }
}

void TCustomFFmpeg::SetVerbose(int level) {
  Verbose = level;
  CurrentLogLevel = LibraryLogLevel(level);
  FF.av_log_set_level(CurrentLogLevel);
}

void TCustomFFmpeg::ApplyBitRate(const std::string& name, const std::string& value) {
  if (!SetGenericOption(name, value) || !LogHandler) return;
  AVCodecContext* holder = CodecOptions[name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
  int64_t bitRate = 0;
  if (holder && FF.av_opt_get_int(holder, "b", 0, &bitRate) >= 0 && bitRate < 1000)
    Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::ApplyFrameSize(const std::string& value) {
  if (value.empty()) return;
  int width = 0, height = 0;
  if (FF.av_parse_video_size(&width, &height, value.c_str()) < 0) Fail("Incorrect frame size");
  if (width % 2 != 0 || height % 2 != 0) Fail("Frame size must be a multiple of 2");
  FrameWidth = width;
  FrameHeight = height;
}

void TCustomFFmpeg::ApplyAspect(const std::string& value) {
  if (value.empty()) return;
  double ratio = 0;
  const size_t colon = value.find(':');
  if (colon == std::string::npos) {
    if (!TryParseDouble(value, ratio)) ratio = 0;
  } else {
    int64_t x = 0, y = 0;
    if (!TryParseInt64(value.substr(0, colon), x)) x = 0;
    if (!TryParseInt64(value.substr(colon + 1), y)) y = 0;
    ratio = y > 0 ? static_cast<double>(x) / static_cast<double>(y) : 0;
  }
  // A negative ratio is as meaningless as 0 and would reach the encoder as a
  // negative sample aspect.
  if (!(ratio > 0)) Fail("Incorrect aspect ratio specification.");
  FrameAspectRatio = static_cast<float>(ratio);
}

void TCustomFFmpeg::ApplyCrop(const std::string& name, const std::string& value) {
  const int size = StrToInt(value);
  if (size < 0) return;
  const bool vertical = name == "croptop" || name == "cropbottom";
  const char* side = name == "croptop"      ? "Top"
                     : name == "cropbottom" ? "Bottom"
                     : name == "cropleft"   ? "Left"
                                            : "Right";
  if (size % 2 != 0) Fail(FormatText("%s crop size must be a multiple of 2", side));
  if (size >= (vertical ? FrameHeight : FrameWidth))
    Fail(
        FormatText("%s crop dimensions are outside the range of the original image.\n"
                   "Remember to crop first and scale second.",
                   vertical ? "Vertical" : "Horizontal"));
  if (name == "croptop") CropTop = size;
  if (name == "cropbottom") CropBottom = size;
  if (name == "cropleft") CropLeft = size;
  if (name == "cropright") CropRight = size;
  (vertical ? FrameHeight : FrameWidth) -= size;
}

void TCustomFFmpeg::ApplyPad(const std::string& name, const std::string& value) {
  const int size = StrToInt(value);
  if (size < 0) return;
  const char* side = name == "padtop"      ? "Top"
                     : name == "padbottom" ? "Bottom"
                     : name == "padleft"   ? "Left"
                                           : "Right";
  if (size % 2 != 0) Fail(FormatText("%s pad size must be a multiple of 2", side));
  if (name == "padtop") PadTop = size;
  if (name == "padbottom") PadBottom = size;
  if (name == "padleft") PadLeft = size;
  if (name == "padright") PadRight = size;
}

void TCustomFFmpeg::ApplyCodecName(char kind, const std::string& value) {
  if (value.empty()) return;
  std::string& name = kind == 'v' ? VideoCodecName : kind == 'a' ? AudioCodecName : SubtitleCodecName;
  int& copy = kind == 'v' ? VideoStreamCopy : kind == 'a' ? AudioStreamCopy : SubtitleStreamCopy;
  name.clear();
  if (value == "copy")
    copy = 1;
  else
    name = value;
}

void TCustomFFmpeg::ApplyCodecTag(char kind, const std::string& value) {
  if (value.empty()) return;
  if (value.size() != 4)
    Fail(kind == 'v' ? "video tag parameter must be 4 chars" : "audio tag parameter must be 4 chars");
  const auto byte = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(value[i])); };
  const int tag = static_cast<int>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
  (kind == 'v' ? VideoCodecTag : AudioCodecTag) = tag;
}

// 64 comma-separated coefficients; anything after the 64th is ignored.
// Coefficients must be 1 to 255: a 0 would make the encoder divide by zero.
void TCustomFFmpeg::ApplyMatrix(std::vector<uint16_t>& matrix, const std::string& value) {
  std::vector<uint16_t> coefficients(64);
  const char* p = value.c_str();
  for (int i = 0;; ++i) {
    char* stop = nullptr;
    const long coefficient = std::strtol(p, &stop, 10);
    if (stop == p || coefficient < 1 || coefficient > 255)
      Fail(FormatText("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
    coefficients[i] = static_cast<uint16_t>(coefficient);
    if (i == 63) break;
    p = std::strchr(p, ',');
    if (!p) Fail(FormatText("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
    ++p;
  }
  matrix = std::move(coefficients);
}

void TCustomFFmpeg::ApplyBitstreamFilter(char kind, const std::string& value) {
  if (value.empty() || value[0] == '=') return;
  const size_t equals = value.find('=');
  const std::string name = value.substr(0, equals);
  TBitstreamFilterSpec filterSpec;
  filterSpec.Filter = FF.av_bsf_get_by_name(name.c_str());
  if (!filterSpec.Filter) Fail(FormatText("Unknown bitstream filter %s", Trim(value).c_str()));
  if (equals != std::string::npos) filterSpec.Arguments = value.substr(equals + 1);
  auto& chain = kind == 'v'   ? VideoBitstreamFilters
                : kind == 'a' ? AudioBitstreamFilters
                              : SubtitleBitstreamFilters;
  chain.push_back(std::move(filterSpec));
}

void TCustomFFmpeg::ApplyVideoHook(const std::string& value) {
  std::vector<std::string> pieces = SplitHookArguments(value);
  std::vector<char*> argv;
  for (std::string& piece : pieces) argv.push_back(piece.data());
  argv.push_back(nullptr);
  if (AddFrameHook(FrameHooks, static_cast<int>(pieces.size()), argv.data()) != 0)
    Fail("Failed to add video hook function: " + value);
  UsingVHook = true;
}

void TCustomFFmpeg::LogPixelFormats() {
  if (!LogHandler) return;
  Log(1, "%-16s %13s %14s", "name", "nb_components", "bits_per_pixel");
  for (const AVPixFmtDescriptor* descriptor = FF.av_pix_fmt_desc_next(nullptr); descriptor;
       descriptor = FF.av_pix_fmt_desc_next(descriptor))
    Log(1, "%-16s %13d %14d", descriptor->name, descriptor->nb_components,
        FF.av_get_bits_per_pixel(descriptor));
}

void TCustomFFmpeg::LogSampleFormats() {
  if (!LogHandler) return;
  char line[128];
  for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format) {
    line[0] = '\0';
    FF.av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(format));
    Log(1, "%s", Trim(line).c_str());
  }
}

AVFormatContext* TCustomFFmpeg::LastOutput() {
  if (OutputFileCount == 0) Fail("At least one output file must be specified");
  return OutputFiles[OutputFileCount - 1];
}
