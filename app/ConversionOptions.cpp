#include "app/ConversionOptions.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>

#include "app/FormatProfiles.h"
#include "engine/binding/CodecAliases.h"

namespace {

constexpr const char* kAsSource = "as source";

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void AppendOptionLine(std::string& text, const std::string& line) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += line;
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Video encoders set by name; any other stored name (flv, swf, mov, 3gp, 3g2,
// wmv3) leaves the choice to the container, whose default encoder fits it.
constexpr std::string_view kNamedVideoEncoders[] = {
    "mpeg4",     "libxvid", "libx264", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1",
    "msmpeg4v2", "huffyuv", "dvvideo", "rawvideo",   "h263p",      "h263",    "rv10",
    "rv20",      "ljpeg",   "mjpeg",   "svq1",       "zlib",       "wmv1",    "wmv2",
};

bool IsNamedVideoEncoder(const std::string& name) {
  return std::find(std::begin(kNamedVideoEncoders), std::end(kNamedVideoEncoders), name) !=
         std::end(kNamedVideoEncoders);
}

// Reads the stored choices of one format.
class TChoices {
public:
  TChoices(const TIniFile& file, int formatIndex) : file_(file), formatIndex_(formatIndex) {}
  std::string Read(const TFormatKey& key) const { return ReadFormatKey(file_, formatIndex_, key); }

private:
  const TIniFile& file_;
  int formatIndex_;
};

// Whether the output's container is AVI: the forced container, else the one
// the file name's extension (or the profile's extension) selects.
bool OutputIsAvi(const TOutputOptions& output, const TIniFile& profileFile, int formatIndex) {
  if (!output.FileFormat.empty()) return LowerCase(output.FileFormat) == "avi";
  std::string extension;
  const size_t dot = output.FileName.rfind('.');
  const size_t slash = output.FileName.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    extension = output.FileName.substr(dot + 1);
  } else {
    extension = ReadFormatKey(profileFile, formatIndex, profilekeys::FileExt);
  }
  return LowerCase(extension) == "avi";
}

// The H.264 tuning, as options the H.264 encoder takes: the level, the
// constant rate factor for the fixed quantiser, the entropy coder and the
// bit-exact switch as option lines; the rate-control buffer and maximum rate
// (kbit, like every rate of the profiles) through the record's fields.
void ApplyH264Tuning(const TChoices& choices, TOutputOptions& output) {
  output.GOP = StrToInt(choices.Read(formatkeys::ParaGop));
  std::string& lines = output.ExtOptions;
  if (LowerCase(choices.Read(formatkeys::ParaBitExact)) == "true") AppendOptionLine(lines, "flags=+bitexact");
  if (const int level = StrToInt(choices.Read(formatkeys::ParaLevel)); level > 0) {
    AppendOptionLine(lines, "level=" + std::to_string(level));
  }
  if (const int quantiser = StrToInt(choices.Read(formatkeys::ParaQscale)); quantiser > 0) {
    AppendOptionLine(lines, "crf=" + std::to_string(quantiser));
  }
  if (const int bufferSize = StrToInt(choices.Read(formatkeys::ParaBufferSize)); bufferSize > 0) {
    output.BufSize = ClampToInt32(int64_t{bufferSize} * 1000);
  }
  if (const int maxRate = StrToInt(choices.Read(formatkeys::ParaMaxBitrate)); maxRate > 0) {
    output.MaxRate = ClampToInt32(int64_t{maxRate} * 1000);
  }
  if (const int coder = StrToInt(choices.Read(formatkeys::ParaCoder)); coder >= 0) {
    AppendOptionLine(lines, "coder=" + std::to_string(coder));
  }
}

// Audio settings; a blank stored value (a list the profile does not offer)
// sets nothing, like "as source".
void ApplyAudio(const TChoices& choices, TOutputOptions& output) {
  output.AudioCodec = CurrentEncoderName(choices.Read(formatkeys::ParaAudioEncoder));

  const std::string channels = choices.Read(formatkeys::ParaChannel);
  if (channels != kAsSource && !Trim(channels).empty()) output.AudioChannels = StrToInt(channels);

  const std::string volume = choices.Read(formatkeys::ParaVolume);
  if (volume != "256" && !Trim(volume).empty()) output.AudioVolume = StrToInt(volume);

  const std::string sampleRate = choices.Read(formatkeys::ParaSampleRate);
  if (sampleRate != kAsSource && !Trim(sampleRate).empty()) output.AudioSampleRate = StrToInt(sampleRate);

  const std::string bitRate = choices.Read(formatkeys::ParaAudioBitRate);
  if (bitRate != kAsSource && !Trim(bitRate).empty()) {
    // kbit/s as decimal text: 96.5 gives 96500. The small bias keeps a value
    // such as 12.2, which has no exact binary form, from losing a bit.
    const double bits = StrToFloat(bitRate) * 1000.0;
    if (bits > 0) output.AudioBitrate = ClampToInt32(static_cast<int64_t>(std::trunc(bits + 1e-6)));
  }
}

struct TPads {
  int Top, Bottom, Left, Right;
};

}  // namespace

void ApplyLetterBox(int sw, int sh, int w, int h, TOutputOptions& output) {
  if (sw <= 0 || sh <= 0 || w <= 0 || h <= 0) return;
  const int ct = std::max(output.CropTop, 0);
  const int cb = std::max(output.CropBottom, 0);
  const int cl = std::max(output.CropLeft, 0);
  const int cr = std::max(output.CropRight, 0);
  const std::string aspect = std::to_string(w) + ":" + std::to_string(h);

  // rw = sw / w and rh = sh / h; compared and applied in exact integer
  // arithmetic, so equal shapes compare equal and sh / rw truncates exactly.
  const int64_t widthRatio = int64_t{sw} * h;   // rw * w * h
  const int64_t heightRatio = int64_t{sh} * w;  // rh * w * h

  auto fitToWidth = [&] {
    const int h0 = static_cast<int>(int64_t{sh} * w / sw) / 2 * 2;
    const int d = h - h0;
    const int p = 2 * (d / 4);
    output.PadTop = p;
    output.PadBottom = p;
    const int e = d - 2 * p;
    const int hp = 2 * ((h0 + e) / 2);
    output.FrameSize = std::to_string(w + cl + cr) + "x" + std::to_string(ct + hp + cb);
    output.AspectRatio = aspect;
  };
  auto fitToHeight = [&] {
    const int w0 = static_cast<int>(int64_t{sw} * h / sh) / 2 * 2;
    const int d = w - w0;
    const int p = 2 * (d / 4);
    output.PadLeft = p;
    output.PadRight = p;
    const int e = d - 2 * p;
    const int wp = 2 * ((w0 + e) / 2);
    output.FrameSize = std::to_string(cl + wp + cr) + "x" + std::to_string(h + ct + cb);
    output.AspectRatio = aspect;
  };
  // Carries the crop like the two fits, so the encoded picture is w x h here
  // too (a crop would otherwise shrink it below the chosen size).
  auto sameShape = [&] {
    output.FrameSize = std::to_string(w + cl + cr) + "x" + std::to_string(h + ct + cb);
    output.AspectRatio = aspect;
  };
  auto byShape = [&] {
    if (widthRatio > heightRatio) {
      fitToWidth();
    } else if (widthRatio < heightRatio) {
      fitToHeight();
    } else {
      sameShape();
    }
  };

  if (w <= sw && h >= sh) fitToWidth();
  if (w >= sw && h <= sh) fitToHeight();
  if (w >= sw && h >= sh) byShape();
  if (w <= sw && h <= sh) byShape();
  if (w == sw && h == sh) {
    // Same size: the crop is made up by padding on the same sides, then the
    // padding is shared evenly between opposite sides.
    output.FrameSize = std::to_string(sw) + "x" + std::to_string(sh);
    output.AspectRatio = std::to_string(sw) + ":" + std::to_string(sh);
    TPads pads{std::max(output.PadTop, 0), std::max(output.PadBottom, 0), std::max(output.PadLeft, 0),
               std::max(output.PadRight, 0)};
    if (cl > 0) pads.Left = 2 * ((pads.Left + cl) / 2);
    if (cr > 0) pads.Right = 2 * ((pads.Right + cr) / 2);
    if (ct > 0) pads.Top = 2 * ((pads.Top + ct) / 2);
    if (cb > 0) pads.Bottom = 2 * ((pads.Bottom + cb) / 2);
    // An even split; when half the total is odd the right or bottom side takes
    // the extra two pixels, so the picture keeps its full size.
    output.PadLeft = 2 * ((pads.Left + pads.Right) / 4);
    output.PadRight = pads.Left + pads.Right - output.PadLeft;
    output.PadTop = 2 * ((pads.Top + pads.Bottom) / 4);
    output.PadBottom = pads.Top + pads.Bottom - output.PadTop;
  }
}

void BuildConversionOptions(const TIniFile& mainFile, const TIniFile& profileFile, int formatIndex,
                            const std::string& zoomMode, const TSourceInfo& source, TOutputOptions& output,
                            TInputOptions& input) {
  // A format never saved converts with the profile's default choices, worked
  // out in memory exactly as the settings dialog would store them.
  TIniFile defaults("");
  const TIniFile* settingsFile = &mainFile;
  if (!mainFile.SectionExists(FormatSection(formatIndex))) {
    SaveFormatChoices(defaults, profileFile,
                      DefaultFormatChoices(ReadFormatProfile(profileFile, formatIndex)));
    settingsFile = &defaults;
  }
  const TChoices choices(*settingsFile, formatIndex);

  const std::string encoder = choices.Read(formatkeys::ParaVideoEncoder);
  if (Trim(encoder).empty()) {
    ApplyAudio(choices, output);
    AppendOptionLine(input.ExtOptions, "vn=1");
    return;
  }

  output.FileFormat = ForcedContainer(ReadFormatKey(profileFile, formatIndex, profilekeys::Format));

  if (IsNamedVideoEncoder(encoder)) output.VideoCodec = CurrentEncoderName(encoder);
  // The DivX tag is an AVI fourcc; the MPEG-4 family containers reject it.
  if (encoder == "mpeg4" && OutputIsAvi(output, profileFile, formatIndex)) output.VideoTag = "DIVX";
  if (encoder == "libx264") ApplyH264Tuning(choices, output);

  const std::string videoBitRate = choices.Read(formatkeys::ParaVideoBitRate);
  if (videoBitRate == kAsSource) {
    if (source.VideoBitRate > 0) output.VideoBitrate = source.VideoBitRate;
  } else if (!Trim(videoBitRate).empty()) {
    output.VideoBitrate = ClampToInt32(int64_t{StrToInt(videoBitRate)} * 1000);
  }

  const std::string frameRate = choices.Read(formatkeys::ParaFrameRate);
  if (frameRate != kAsSource) output.FrameRateText = frameRate;

  // Target size; 0 x 0 when the stored text names none.
  int width = 0;
  int height = 0;
  const std::string size = choices.Read(formatkeys::ParaVideoSize);
  if (size == kAsSource) {
    // Encoders take even sizes only; an odd source loses its last row or column.
    width = source.Width / 2 * 2;
    height = source.Height / 2 * 2;
  } else {
    const size_t x = size.find('x');
    if (x != std::string::npos && x > 0) {
      width = StrToInt(size.substr(0, x));
      height = StrToInt(size.substr(x + 1));
    }
    // H.263 knows a few picture sizes only; others are raised to the next one.
    constexpr std::string_view kH263Sizes = "704x576,352x288,176x144,160x120,128x96";
    if (LowerCase(output.VideoCodec) == "h263" && kH263Sizes.find(size) == std::string_view::npos) {
      if (width > 176 && width <= 352) {
        width = 352;
        height = 288;
      }
      if (width > 352) {
        width = 704;
        height = 576;
      }
    }
  }

  // Without a source picture or a target size there is nothing to fit: the
  // job keeps the source size less the crop, like the other zoom modes.
  if (zoomMode == kZoomLetterBox) ApplyLetterBox(source.Width, source.Height, width, height, output);

  ApplyAudio(choices, output);
  output.PadColor = 0;
}

void BuildConversionOptions(const TGlobalObject& global, int formatIndex, const std::string& zoomMode,
                            const TSourceInfo& source, TOutputOptions& output, TInputOptions& input) {
  const TIniFile mainFile(global.MainIniFile());
  const TIniFile profileFile(global.FormatIniFile());
  BuildConversionOptions(mainFile, profileFile, formatIndex, zoomMode, source, output, input);
}
