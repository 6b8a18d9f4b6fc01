#pragma once
// What the tests of the audio and video output paths share: a small source
// file made once per test program, and readers of the written pictures.
#include <string>
#include <vector>

#include "tests/transcode/TranscodeTesting.h"

namespace paths_test {

// 160x120 MPEG-4 at 25 fps with a 440 Hz stereo tone at 44100 Hz (16-bit
// PCM) in Matroska, 2 s; made on first use and kept while the program runs.
const std::string& Source();

// Another generated file, made on first use under the program's folder of
// generated sources; name picks the file, recipe describes it.
std::string Generated(const std::string& name, const fixtures::MediaSpec& recipe);

// One decoded picture, planes as the decoder gave them.
struct Planes {
  int width = 0, height = 0;
  int format = -1;
  double seconds = 0;
  std::vector<std::vector<uint8_t>> rows[3];  // per plane, per row
  int At(int plane, int x, int y) const { return rows[plane][y][x]; }
};

// Every picture of the first video stream, decoded.
std::vector<Planes> DecodePlanes(const std::string& path);

// Mirror image of a BGR picture, row by row.
void FlipBgr(std::vector<uint8_t>& bgr, int stride, int width, int height);

// The frame counters of a file's pictures read after mirroring each picture.
std::vector<int> MirroredCounters(const std::string& path);

}  // namespace paths_test
