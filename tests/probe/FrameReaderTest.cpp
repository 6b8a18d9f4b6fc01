#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/binding/EngineError.h"
#include "engine/probe/AVProbe.h"
#include "tests/fixtures/FixtureGenerator.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::Fixture;
using testsupport::LogCapture;

constexpr int64_t kSecond = 1000000;

int Counter(const TBitmap& picture) {
  return fixtures::ReadFrameCounter(picture.Bits(), picture.Stride(), picture.Width(), picture.Height());
}

bool AllBlack(const TBitmap& picture) {
  for (int row = 0; row < picture.Height(); ++row)
    for (int x = 0; x < picture.Width() * 3; ++x)
      if (picture.ScanLine(row)[x] != 0) return false;
  return true;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int row = 0; row < a.Height(); ++row)
    if (std::memcmp(a.ScanLine(row), b.ScanLine(row), static_cast<size_t>(a.Width()) * 3) != 0) return false;
  return true;
}

// The frame that shows at a position of a 25 fps fixture.
int FrameAt(int64_t positionUs) {
  return static_cast<int>((positionUs * 25 + kSecond / 2) / kSecond);
}

class FrameReaderTest : public ::testing::Test {
protected:
  void SetUp() override { testsupport::LoadLibrariesOrFail(); }
};

TEST_F(FrameReaderTest, SeekAndDecodeShowsThePictureAtThePosition) {
  struct Case {
    const char* file;
    int width, height;
    std::vector<double> seconds;  // visited in this order, backwards too
  };
  const Case cases[] = {
      // H.264 with a key frame every 2 s: most targets lie inside a group.
      {"long_gop.mp4", 320, 240, {3.72, 0.4, 9.0, 5.0, 1.96, 7.1}},
      // H.264 with B-frames: delayed decoder output.
      {"mp4_h264_aac.mp4", 320, 240, {2.2, 0.6, 1.48}},
      {"avi_mpeg4_mp3.avi", 160, 120, {1.5, 0.28, 2.6}},
      {"mpg_mpeg1_mp2.mpg", 160, 120, {2.04, 0.8}},
      {"flv_flv1_mp3.flv", 160, 120, {1.2, 2.5}},
      {"odd_size.mp4", 174, 98, {1.0, 2.4}},
  };
  for (const Case& c : cases) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(c.file))) << c.file << ": " << probe.LastError();
    for (double seconds : c.seconds) {
      const int64_t position = static_cast<int64_t>(seconds * kSecond);
      ASSERT_TRUE(probe.SeekTo(-1, position)) << c.file;
      const TBitmap& picture = probe.DecodeFrame(-1);
      ASSERT_EQ(picture.Width(), c.width) << c.file;
      ASSERT_EQ(picture.Height(), c.height) << c.file;
      EXPECT_NEAR(Counter(picture), FrameAt(position), 1) << c.file << " at " << seconds << " s";
      EXPECT_TRUE(SamePixels(probe.GetLastPicture(), picture)) << c.file;
    }
  }
}

TEST_F(FrameReaderTest, RepeatedDecodingPlaysForwardFrameByFrame) {
  for (const char* file : {"long_gop.mp4", "mp4_h264_aac.mp4"}) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(file))) << probe.LastError();
    ASSERT_TRUE(probe.SeekTo(-1, 1 * kSecond + 400000));
    const int first = Counter(probe.DecodeFrame(-1));
    EXPECT_NEAR(first, 35, 1) << file;
    for (int i = 1; i < 30; ++i) ASSERT_EQ(Counter(probe.DecodeFrame(-1)), first + i) << file;
  }
}

TEST_F(FrameReaderTest, PositionZeroGoesBackToTheFirstPictureWhateverTheStartTime) {
  for (const char* file : {"mpg_mpeg1_mp2.mpg", "ts_two_programs.ts", "long_gop.mp4"}) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(file))) << probe.LastError();
    TVideoStreamInfo info;
    probe.GetVideoStreamInfo(-1, info);
    ASSERT_TRUE(probe.SeekTo(-1, 2 * kSecond));
    EXPECT_NEAR(Counter(probe.DecodeFrame(-1)), 50, 1) << file;
    ASSERT_TRUE(probe.SeekTo(-1, 0));
    EXPECT_EQ(Counter(probe.DecodeFrame(-1)), 0)
        << file << ", stream starts at " << info.StartTimeUs << " us";
    // A negative position means the start as well.
    probe.DecodeFrame(-1);
    ASSERT_TRUE(probe.SeekTo(-1, -5 * kSecond));
    EXPECT_EQ(Counter(probe.DecodeFrame(-1)), 0) << file;
  }
}

TEST_F(FrameReaderTest, EndOfDataGivesABlackPictureOfTheVideoSize) {
  // The B-frame file also shows that the decoder's delayed pictures come out
  // before the end is reported.
  for (const char* file : {"mp4_h264_aac.mp4", "avi_mpeg4_mp3.avi"}) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(file))) << probe.LastError();
    TVideoStreamInfo info;
    probe.GetVideoStreamInfo(-1, info);
    ASSERT_TRUE(probe.SeekTo(-1, 2 * kSecond + 600000));
    std::vector<int> counters;
    for (int i = 0; i < 20; ++i) {
      const TBitmap& picture = probe.DecodeFrame(-1);
      ASSERT_EQ(picture.Width(), info.Width) << file;
      ASSERT_EQ(picture.Height(), info.Height) << file;
      if (AllBlack(picture)) break;
      counters.push_back(Counter(picture));
    }
    ASSERT_FALSE(counters.empty()) << file;
    EXPECT_EQ(counters.back(), 74) << file << ": the last of 75 pictures";
    LogCapture log;
    const TBitmap& after = probe.DecodeFrame(-1);
    EXPECT_TRUE(AllBlack(after)) << file;
    EXPECT_EQ(after.Width(), info.Width) << file;
    EXPECT_TRUE(log.Contains("stream eof reached.\n")) << log.Text();
    // The last picture keeps the last frame decoded with success.
    EXPECT_EQ(Counter(probe.GetLastPicture()), 74) << file;
  }
}

TEST_F(FrameReaderTest, APositionPastTheEndShowsTheLastPicture) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("long_gop.mp4"))) << probe.LastError();
  ASSERT_TRUE(probe.SeekTo(-1, 3600 * kSecond));
  EXPECT_EQ(Counter(probe.DecodeFrame(-1)), 249);
  EXPECT_TRUE(AllBlack(probe.DecodeFrame(-1)));
  // Seeking again after the end plays again.
  ASSERT_TRUE(probe.SeekTo(-1, 4 * kSecond));
  EXPECT_NEAR(Counter(probe.DecodeFrame(-1)), 100, 1);
}

TEST_F(FrameReaderTest, AStillPictureIsReadOnceAndNotSeeked) {
  struct Case {
    const char* file;
    const char* format;  // forced input format, or empty
  };
  for (const Case& c : {Case{"still.png", ""}, Case{"still.jpg", ""}, Case{"still.png", "image2"}}) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(c.file), c.format)) << probe.LastError();
    const TBitmap first = probe.DecodeFrame(-1);
    ASSERT_EQ(first.Width(), 160) << c.file;
    ASSERT_EQ(first.Height(), 120) << c.file;
    EXPECT_EQ(Counter(first), 0) << c.file;
    {
      LogCapture log;
      EXPECT_TRUE(probe.SeekTo(-1, kSecond));
      EXPECT_EQ(log.Text(), "\"image2\" format cannot to be seeked.\n");
    }
    // A second read of the file would find its end and give black.
    for (int i = 0; i < 3; ++i) {
      const TBitmap& again = probe.DecodeFrame(-1);
      EXPECT_TRUE(SamePixels(again, first)) << c.file << " " << c.format;
      EXPECT_FALSE(AllBlack(again)) << c.file;
    }
  }
}

// A 24-bit BMP file (rows bottom first, padded to 4 bytes) of the test picture.
void WriteBgrBitmapFile(const std::string& path, int width, int height, int frameNumber) {
  const int rowBytes = (width * 3 + 3) & ~3;
  std::vector<uint8_t> top(static_cast<size_t>(rowBytes) * height);
  fixtures::DrawTestPicture(top.data(), rowBytes, width, height, frameNumber);
  std::vector<uint8_t> file(54);
  auto put32 = [&file](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(54 + top.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  file[26] = 1;   // planes
  file[28] = 24;  // bits per pixel
  put32(34, static_cast<uint32_t>(top.size()));
  for (int row = height - 1; row >= 0; --row)
    file.insert(file.end(), top.begin() + static_cast<ptrdiff_t>(row) * rowBytes,
                top.begin() + static_cast<ptrdiff_t>(row + 1) * rowBytes);
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
  std::fclose(out);
}

TEST_F(FrameReaderTest, ABgrSourceIsCopiedExactly) {
  // An odd width makes the file's rows, the decoder's rows and the picture's
  // rows all differ in length.
  const int width = 161, height = 97;
  testsupport::TempFolder folder;
  const std::string path = folder.File("bgr.bmp");
  WriteBgrBitmapFile(path, width, height, 37);
  TBitmap expected(width, height);
  fixtures::DrawTestPicture(expected.Bits(), expected.Stride(), width, height, 37);

  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(path)) << probe.LastError();
  TVideoStreamInfo info;
  probe.GetVideoStreamInfo(-1, info);
  ASSERT_EQ(info.PixelFormat, 3) << "the decoder gives packed BGR";
  const TBitmap& picture = probe.DecodeFrame(-1);
  EXPECT_TRUE(SamePixels(picture, expected));
  EXPECT_EQ(Counter(picture), 37);
}

TEST_F(FrameReaderTest, EveryVideoStreamOfAFileDecodes) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("ts_two_programs.ts"))) << probe.LastError();
  std::vector<int> videoStreams;
  for (int i = 0; i < probe.StreamCount(); ++i)
    if (probe.IsVideoStream(i)) videoStreams.push_back(i);
  ASSERT_EQ(videoStreams.size(), 2u);
  // Switching between the streams reopens the decoder each time.
  for (int round = 0; round < 2; ++round) {
    for (int stream : videoStreams) {
      ASSERT_TRUE(probe.SeekTo(stream, kSecond));
      const TBitmap& picture = probe.DecodeFrame(stream);
      EXPECT_NEAR(Counter(picture), 25, 1) << "stream " << stream;
    }
  }
}

TEST_F(FrameReaderTest, DamagedFilesPlayToAnEndWithoutFailing) {
  for (const char* file : {"corrupted.avi", "truncated.avi"}) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture(file))) << probe.LastError();
    TVideoStreamInfo info;
    probe.GetVideoStreamInfo(-1, info);
    ASSERT_TRUE(probe.SeekTo(-1, kSecond));
    probe.DecodeFrame(-1);
    ASSERT_TRUE(probe.SeekTo(-1, 0));
    int pictures = 0;
    bool ended = false;
    while (pictures < 200 && !ended) {
      const TBitmap& picture = probe.DecodeFrame(-1);
      ASSERT_EQ(picture.Width(), info.Width) << file;
      ASSERT_EQ(picture.Height(), info.Height) << file;
      ended = AllBlack(picture);
      if (!ended) ++pictures;
    }
    EXPECT_TRUE(ended) << file;
    EXPECT_GT(pictures, 0) << file;
  }
}

TEST_F(FrameReaderTest, AnAttachedProbeRefusesToSeekOrDecode) {
  TAVProbe owner;
  ASSERT_TRUE(owner.OpenFile(Fixture("avi_mpeg4_mp3.avi"))) << owner.LastError();
  TAVProbe attached;
  attached.AttachContext(owner.Context());

  LogCapture log;
  try {
    attached.SeekTo(-1, kSecond);
    ADD_FAILURE() << "SeekTo did not raise";
  } catch (const FFMpegException& error) {
    EXPECT_STREQ(error.what(), "file cannot be seeked, handle is readonly.");
  }
  EXPECT_EQ(attached.LastError(), "file cannot be seeked, handle is readonly.");
  try {
    attached.DecodeFrame(-1);
    ADD_FAILURE() << "DecodeFrame did not raise";
  } catch (const FFMpegException& error) {
    EXPECT_STREQ(error.what(), "frame cannot be read, handle is readonly.");
  }
  EXPECT_EQ(attached.LastError(), "frame cannot be read, handle is readonly.");
  EXPECT_EQ(log.Text(),
            "file cannot be seeked, handle is readonly.\nframe cannot be read, handle is readonly.\n");

  // The owner's read position was not moved: it still starts at frame 0.
  EXPECT_EQ(Counter(owner.DecodeFrame(-1)), 0);
}

TEST_F(FrameReaderTest, RequestsWithoutAPictureGiveAnEmptyPictureAndTheirLogLine) {
  struct Case {
    const char* file;  // empty: nothing open
    int stream;
    const char* log;
  };
  const Case cases[] = {
      {"", -1, "file not loaded.\n"},
      {"tone.wav", -1, "no video stream.\n"},
      {"tone.mp3", 0, "stream #0 is not video stream.\n"},
      {"avi_mpeg4_mp3.avi", 1, "stream #1 is not video stream.\n"},
      {"avi_mpeg4_mp3.avi", 2, "stream index #2 is invalid.\n"},
  };
  for (const Case& c : cases) {
    TAVProbe probe;
    if (*c.file) {
      ASSERT_TRUE(probe.OpenFile(Fixture(c.file))) << probe.LastError();
    }
    LogCapture log;
    const TBitmap& picture = probe.DecodeFrame(c.stream);
    EXPECT_TRUE(picture.Empty()) << c.file << " #" << c.stream;
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(log.Text(), c.log) << c.file << " #" << c.stream;
  }
}

TEST_F(FrameReaderTest, SeekFailuresWithoutAFileOrWithABadStream) {
  TAVProbe probe;
  {
    LogCapture log;
    EXPECT_FALSE(probe.SeekTo(-1, kSecond));
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    EXPECT_EQ(log.Text(), "file not loaded.\n");
  }
  ASSERT_TRUE(probe.OpenFile(Fixture("avi_mpeg4_mp3.avi"))) << probe.LastError();
  LogCapture log;
  EXPECT_FALSE(probe.SeekTo(7, kSecond));
  EXPECT_EQ(log.Text(), "stream index #7 is invalid.\n");
  // Seeking by the audio stream moves the video too.
  ASSERT_TRUE(probe.SeekTo(probe.FirstAudioStream(), 2 * kSecond));
  EXPECT_NEAR(Counter(probe.DecodeFrame(-1)), 50, 1);
}

}  // namespace
