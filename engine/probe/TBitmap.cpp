#include "engine/probe/TBitmap.h"

#include <algorithm>

void TBitmap::SetSize(int width, int height) {
  if (width <= 0 || height <= 0) width = height = 0;
  width_ = width;
  height_ = height;
  stride_ = (width * 3 + 3) & ~3;
  pixels_.assign(static_cast<size_t>(stride_) * height, 0);
}

void TBitmap::Fill(uint8_t blue, uint8_t green, uint8_t red) {
  for (int row = 0; row < height_; ++row) {
    uint8_t* line = ScanLine(row);
    for (int x = 0; x < width_; ++x) {
      line[x * 3] = blue;
      line[x * 3 + 1] = green;
      line[x * 3 + 2] = red;
    }
  }
}
