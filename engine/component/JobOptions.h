#pragma once
// The two records through which the application describes one conversion job
// to the converter: TInputOptions goes with AddInputFile, TOutputOptions with
// AddOutputFile. Every field starts at a value meaning "not set" (-1, empty,
// false, or the value noted), and the converter applies only fields that
// differ from it. ExtOptions carries further session options as name=value
// lines.
//
// Plain data: copied freely, no thread affinity.
#include <cstdint>
#include <string>

struct TInputOptions {
  std::string FileName;    // empty: AddInputFile fills in its file name argument
  std::string FileFormat;  // demuxer to force
  int32_t StartTime = -1;  // milliseconds; not set when 0 or less
  int32_t ProgramID = -1;  // program to keep; not set when negative
  std::string ExtOptions;  // name=value lines
};

struct TOutputOptions {
  std::string FileName;          // empty: AddOutputFile fills in its file name argument
  std::string Reserved;          // carried along, read by nobody
  std::string FileFormat;        // muxer to force
  int32_t PacketSize = -1;       // bytes
  int32_t MuxRate = -1;          // bit/s
  float MuxDelay = -1.0f;        // seconds
  float MuxPreloadTime = -1.0f;  // seconds

  std::string AudioCodec;  // encoder name or "copy"
  bool DisableAudio = false;
  int32_t AudioVolume = -1;  // 256 = unchanged
  int32_t AudioChannels = -1;
  int32_t AudioSampleRate = -1;  // Hz
  int32_t AudioBitrate = -1;     // bit/s
  int32_t AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int32_t AudioSyncMethod = 0;
  std::string AudioTag;  // four characters

  std::string VideoCodec;  // encoder name or "copy"
  bool DisableVideo = false;
  std::string FrameRateText;                                             // "25", "30000/1001"
  std::string FrameSize;                                                 // "352x288"
  std::string AspectRatio;                                               // "4:3", "16:9" or a real number
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;  // even pixels
  int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;      // even pixels
  int32_t PadColor = 0;  // colour value: red in the low byte, then green, blue; 0 is black
  int32_t GOP = -1;
  int32_t VideoBitrate = -1;  // bit/s
  int32_t MaxRate = -1;
  int32_t MinRate = -1;
  int32_t BitrateTolerance = -1;
  int32_t BufSize = -1;
  int32_t VideoSyncMethod = -1;  // -1 automatic
  std::string VideoTag;          // four characters
  std::string VideoFilters;      // filter chain text

  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool CopyTimestamp = false;
  int32_t Duration = -1;  // milliseconds

  // Metadata. Timestamp is a local date-time in days since 1899-12-30; 0 means
  // now, negative not set. The text fields stand for fixed character arrays;
  // the comment gives each array's size, the most characters it carries.
  double Timestamp = -1.0;
  int32_t Year = -1;
  int32_t Track = -1;
  std::string Title;      // 512
  std::string Author;     // 512
  std::string Copyright;  // 512
  std::string Comment;    // 512
  std::string Album;      // 512
  std::string Genre;      // 32

  int32_t Target = 0;              // 1 "vcd", 2 "svcd", 3 "dvd", else none
  int32_t TargetNorm = 0;          // 1 "pal", 2 "ntsc", else automatic
  int32_t TargetFallbackNorm = 1;  // 1 "pal", else "ntsc"
  bool CustomHook = false;         // OnCustomHook for every video frame
  bool BeforeHook = false;         // OnBeforeHook before the frame hooks
  std::string HookTimeRanges;      // "start-end,..." in milliseconds
  std::string ExtOptions;          // name=value lines
};

// Sizes of the metadata character arrays the text fields stand for.
inline constexpr size_t kMetadataTextSize = 512;
inline constexpr size_t kGenreTextSize = 32;

inline void InitInputOptions(TInputOptions& options) {
  options = TInputOptions{};
}
inline void InitOutputOptions(TOutputOptions& options) {
  options = TOutputOptions{};
}
