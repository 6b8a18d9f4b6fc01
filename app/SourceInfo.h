#pragma once
// What the options builder needs to know of a source file, taken from the
// probe that has just opened it (or given directly by tests and tools).
#include <cstdint>

class TAVProbe;

struct TSourceInfo {
  int Width = 0;  // picture size; 0 when the file has no picture
  int Height = 0;
  int VideoBitRate = -1;    // bit/s of the first video stream; -1 unknown
  int64_t DurationMs = -1;  // -1 unknown
  bool HasVideo = false;
  bool HasAudio = false;
};

// The size of the probe's last decoded picture, or of its first video stream
// when no picture has been decoded; the first video stream's bit rate; the
// file's duration and stream presence.
TSourceInfo SourceInfoFromProbe(TAVProbe& probe);
