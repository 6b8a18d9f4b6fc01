#pragma once
// The picture the engine hands to previews and picture hooks: 24 bits per
// pixel, rows top first, each pixel blue, green, red. Rows are padded to a
// multiple of 4 bytes so a window can wrap the pixels without copying.
#include <cstddef>
#include <cstdint>
#include <vector>

class TBitmap {
public:
  TBitmap() = default;
  TBitmap(int width, int height) { SetSize(width, height); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Bytes from one row's start to the next.
  int Stride() const { return stride_; }

  // Resizes; the content is undefined afterwards except that a new picture is
  // black. A 0 x 0 size empties the picture.
  void SetSize(int width, int height);

  uint8_t* ScanLine(int row) { return pixels_.data() + static_cast<size_t>(row) * stride_; }
  const uint8_t* ScanLine(int row) const { return pixels_.data() + static_cast<size_t>(row) * stride_; }
  uint8_t* Bits() { return pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.data(); }

  void Fill(uint8_t blue, uint8_t green, uint8_t red);

private:
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  std::vector<uint8_t> pixels_;
};
