// The per-file options builder and its letter box.
#include <gtest/gtest.h>

#include "app/ConversionOptions.h"
#include "app/FormatProfiles.h"

namespace {

struct Pads {
  int top, bottom, left, right;
  bool operator==(const Pads&) const = default;
};
Pads PadsOf(const TOutputOptions& output) {
  return {output.PadTop, output.PadBottom, output.PadLeft, output.PadRight};
}
std::ostream& operator<<(std::ostream& out, const Pads& p) {
  return out << "top " << p.top << " bottom " << p.bottom << " left " << p.left << " right " << p.right;
}

TEST(LetterBoxTest, FitsTheSourceIntoTheChosenSize) {
  struct Case {
    const char* name;
    int sw, sh, w, h;
    int ct, cb, cl, cr;
    const char* frameSize;
    const char* aspect;
    Pads pads;
  } cases[] = {
      // The worked example: narrower target shape, fit to height.
      {"640x480 into 320x180", 640, 480, 320, 180, -1, -1, -1, -1, "240x180", "320:180", {-1, -1, 40, 40}},
      {"same shape smaller", 640, 480, 320, 240, -1, -1, -1, -1, "320x240", "320:240", {-1, -1, -1, -1}},
      {"same shape larger", 320, 240, 640, 480, -1, -1, -1, -1, "640x480", "640:480", {-1, -1, -1, -1}},
      {"wide source, fit to width",
       640,
       360,
       320,
       240,
       -1,
       -1,
       -1,
       -1,
       "320x180",
       "320:240",
       {30, 30, -1, -1}},
      {"upscale, fit to height", 320, 240, 640, 360, -1, -1, -1, -1, "480x360", "640:360", {-1, -1, 80, 80}},
      {"PAL into CIF", 720, 576, 352, 288, -1, -1, -1, -1, "352x280", "352:288", {4, 4, -1, -1}},
      // An odd remainder of the padding goes to the picture: 36 + 248 + 36 = 320.
      {"remainder to the picture",
       640,
       480,
       320,
       185,
       -1,
       -1,
       -1,
       -1,
       "248x185",
       "320:185",
       {-1, -1, 36, 36}},
      // The frame size carries the crop, which the converter subtracts again.
      {"crop carried", 640, 480, 320, 180, 10, 10, 0, 0, "240x200", "320:180", {-1, -1, 40, 40}},
      {"crop carried sideways", 640, 360, 320, 240, -1, -1, 8, 4, "332x180", "320:240", {30, 30, -1, -1}},
      // Same size: the crop becomes padding, shared evenly between the sides.
      {"same size, left crop 20", 640, 480, 640, 480, 0, 0, 20, 0, "640x480", "640:480", {0, 0, 10, 10}},
      {"same size, crop top 10 bottom 6",
       640,
       480,
       640,
       480,
       10,
       6,
       -1,
       -1,
       "640x480",
       "640:480",
       {8, 8, 0, 0}},
      {"same size, no crop", 640, 480, 640, 480, -1, -1, -1, -1, "640x480", "640:480", {0, 0, 0, 0}},
      // Half the crop is odd: the bottom takes the extra two rows, the height stays 480.
      {"same size, crop top 2", 640, 480, 640, 480, 2, 0, 0, 0, "640x480", "640:480", {0, 2, 0, 0}},
      {"same size, crop left 6 right 8", 640, 480, 640, 480, 0, 0, 6, 8, "640x480", "640:480", {0, 0, 6, 8}},
      {"same shape with crop", 640, 480, 320, 240, 0, 0, 8, 0, "328x240", "320:240", {-1, -1, -1, -1}},
      // Narrower and taller than the source: fit to width.
      {"taller target", 640, 480, 320, 480, -1, -1, -1, -1, "320x240", "320:480", {120, 120, -1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOutputOptions output;
    output.CropTop = c.ct;
    output.CropBottom = c.cb;
    output.CropLeft = c.cl;
    output.CropRight = c.cr;
    ApplyLetterBox(c.sw, c.sh, c.w, c.h, output);
    EXPECT_EQ(output.FrameSize, c.frameSize);
    EXPECT_EQ(output.AspectRatio, c.aspect);
    EXPECT_EQ(PadsOf(output), c.pads);
  }
}

TEST(LetterBoxTest, EncodedPictureAlwaysHasTheChosenSize) {
  // Frame size less crop plus padding must give the target for every shape.
  for (int sw : {176, 320, 352, 640, 720, 1280, 1920}) {
    for (int sh : {96, 144, 240, 288, 360, 480, 576, 720, 1080}) {
      for (auto [w, h] : {std::pair{320, 240}, {352, 288}, {176, 144}, {640, 360}, {1280, 720}}) {
        TOutputOptions output;
        output.CropLeft = 4;
        output.CropTop = 2;
        ApplyLetterBox(sw, sh, w, h, output);
        int fw = 0, fh = 0;
        ASSERT_EQ(sscanf(output.FrameSize.c_str(), "%dx%d", &fw, &fh), 2);
        const int width = fw - 4 + std::max(output.PadLeft, 0) + std::max(output.PadRight, 0);
        const int height = fh - 2 + std::max(output.PadTop, 0) + std::max(output.PadBottom, 0);
        EXPECT_EQ(width, w) << sw << "x" << sh << " -> " << w << "x" << h;
        EXPECT_EQ(height, h) << sw << "x" << sh << " -> " << w << "x" << h;
        for (int pad : {output.PadTop, output.PadBottom, output.PadLeft, output.PadRight}) {
          EXPECT_TRUE(pad == -1 || (pad >= 0 && pad % 2 == 0)) << pad;
        }
      }
    }
  }
}

TEST(LetterBoxTest, NothingToFitWithoutBothSizes) {
  for (auto [sw, sh, w, h] : {std::tuple{0, 0, 320, 240}, {640, 480, 0, 0}, {640, 0, 320, 240}}) {
    TOutputOptions output;
    ApplyLetterBox(sw, sh, w, h, output);
    EXPECT_EQ(output.FrameSize, "");
    EXPECT_EQ(output.AspectRatio, "");
    EXPECT_EQ(PadsOf(output), (Pads{-1, -1, -1, -1}));
  }
}

// The settings and profile files in memory, and a 640x480 source.
class BuilderTest : public ::testing::Test {
protected:
  static constexpr int kFormat = 6;
  const std::string section_ = FormatSection(kFormat);

  void SetUp() override {
    profile_.WriteString(section_, "FileExt", "avi");
    profile_.WriteString(section_, "Format", "avi");
    source_.Width = 640;
    source_.Height = 480;
    source_.VideoBitRate = 777000;
    source_.HasVideo = source_.HasAudio = true;
  }

  // Stores a key of the format's section; the section then counts as saved.
  void Set(const std::string& key, const std::string& value) { main_.WriteString(section_, key, value); }
  void Build(const std::string& zoom = kZoomLetterBox) {
    BuildConversionOptions(main_, profile_, kFormat, zoom, source_, output_, input_);
  }

  TIniFile main_{""};
  TIniFile profile_{""};
  TSourceInfo source_;
  TOutputOptions output_;
  TInputOptions input_;
};

TEST_F(BuilderTest, NoVideoEncoderMakesAnAudioOnlyJob) {
  Set("Description", "saved once, without a video encoder");
  Set("paraVideoSize", "320x240");
  Build();
  EXPECT_EQ(input_.ExtOptions, "vn=1");
  EXPECT_EQ(output_.AudioCodec, "aac");  // the stored default libfaac, renamed
  EXPECT_EQ(output_.AudioChannels, 2);
  EXPECT_EQ(output_.AudioSampleRate, 44100);
  EXPECT_EQ(output_.AudioBitrate, 128000);
  EXPECT_EQ(output_.AudioVolume, -1);  // 256: unchanged
  EXPECT_EQ(output_.FileFormat, "");
  EXPECT_EQ(output_.VideoCodec, "");
  EXPECT_EQ(output_.FrameSize, "");
  EXPECT_EQ(output_.FrameRateText, "");
  EXPECT_EQ(output_.VideoBitrate, -1);

  output_ = {};
  input_ = {};
  Set("paraVideoEncoder", "   ");  // blank counts as none
  Set("paraVolume", "3");
  Set("paraChannel", "as source");
  Build();
  EXPECT_EQ(input_.ExtOptions, "vn=1");
  EXPECT_EQ(output_.AudioVolume, 3);
  EXPECT_EQ(output_.AudioChannels, -1);
}

TEST_F(BuilderTest, AFormatNeverSavedConvertsWithTheProfileDefaults) {
  profile_.WriteString(section_, "VideoEncoder", "FLV,MPEG-4");
  profile_.WriteString(section_, "iVideoEncoder", "1");
  profile_.WriteString(section_, "VideoSize", "320x240");
  profile_.WriteString(section_, "VideoBitRate", "800");
  profile_.WriteString(section_, "FrameRate", "25");
  profile_.WriteString(section_, "AudioEncoder", "MP3");
  profile_.WriteString(section_, "SampleRate", "22050");
  profile_.WriteString(section_, "AudioBitRate", "64");
  profile_.WriteString(section_, "Channel", "mono 1 channel");
  profile_.WriteString(section_, "Volume", "50%,100%");
  profile_.WriteString(section_, "iVolume", "1");
  Build();
  EXPECT_EQ(output_.VideoCodec, "mpeg4");
  EXPECT_EQ(output_.VideoTag, "DIVX");
  EXPECT_EQ(output_.FileFormat, "avi");
  EXPECT_EQ(output_.VideoBitrate, 800000);
  EXPECT_EQ(output_.FrameRateText, "25");
  EXPECT_EQ(output_.FrameSize, "320x240");
  EXPECT_EQ(output_.AudioCodec, "libmp3lame");
  EXPECT_EQ(output_.AudioSampleRate, 22050);
  EXPECT_EQ(output_.AudioBitrate, 64000);
  EXPECT_EQ(output_.AudioChannels, 1);
  EXPECT_EQ(output_.AudioVolume, -1);  // 100% is unchanged, not nearly silent
  EXPECT_EQ(input_.ExtOptions, "");
  EXPECT_FALSE(main_.SectionExists(section_));  // worked out without writing the settings

  output_ = {};
  profile_.WriteString(section_, "iVolume", "0");
  Build();
  EXPECT_EQ(output_.AudioVolume, 128);
}

TEST_F(BuilderTest, VideoEncoderTable) {
  struct Case {
    const char* stored;
    const char* container;  // the profile's Format
    const char* fileName;
    const char* codec;
    const char* tag;
  } cases[] = {
      {"mpeg4", "avi", "", "mpeg4", "DIVX"},
      {"mpeg4", "AVI", "", "mpeg4", "DIVX"},
      {"mpeg4", "null", "/out/a_(new).avi", "mpeg4", "DIVX"},
      {"mpeg4", "null", "", "mpeg4", "DIVX"},  // the profile's extension: avi
      // MPEG-4 family containers reject the AVI fourcc.
      {"mpeg4", "3gp", "/out/a.avi.d/b_(new).3gp", "mpeg4", ""},
      {"mpeg4", "3g2", "", "mpeg4", ""},
      {"mpeg4", "ipod", "", "mpeg4", ""},
      {"mpeg4", "mov", "", "mpeg4", ""},
      {"mpeg4", "null", "/out/b_(new).mp4", "mpeg4", ""},
      {"libxvid", "avi", "", "libxvid", ""},
      {"h263", "3gp", "", "h263", ""},
      {"mpeg1video", "null", "", "mpeg1video", ""},
      {"wmv2", "null", "", "wmv2", ""},
      {"wmv1", "null", "", "wmv1", ""},
      // The container's own encoder.
      {"flv", "flv", "", "", ""},
      {"swf", "null", "", "", ""},
      {"3gp", "3gp", "", "", ""},
      {"mov", "mov", "", "", ""},
      {"wmv3", "null", "", "", ""},
      {"MPEG4", "avi", "", "", ""},  // exact names only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + " in " + c.container);
    profile_.WriteString(section_, "Format", c.container);
    Set("paraVideoEncoder", c.stored);
    output_ = {};
    output_.FileName = c.fileName;
    input_ = {};
    Build();
    EXPECT_EQ(output_.VideoCodec, c.codec);
    EXPECT_EQ(output_.VideoTag, c.tag);
    EXPECT_EQ(input_.ExtOptions, "");
    EXPECT_EQ(output_.PadColor, 0);
  }
}

TEST_F(BuilderTest, H264TuningReachesTheEncoderAsItsOwnOptions) {
  Set("paraVideoEncoder", "libx264");
  Build();
  EXPECT_EQ(output_.VideoCodec, "libx264");
  EXPECT_EQ(output_.GOP, 250);
  EXPECT_EQ(output_.ExtOptions, "flags=+bitexact\nlevel=13\ncrf=25\ncoder=0");
  EXPECT_EQ(output_.BufSize, 128000);
  EXPECT_EQ(output_.MaxRate, 1500000);

  output_ = {};
  output_.ExtOptions = "title=kept";
  Set("paraBitExact", "false");
  Set("paraLevel", "31");
  Set("paraQscale", "0");
  Set("paraBufferSize", "-1");
  Set("paraMaxBitrate", "4000");
  Set("paraCoder", "-1");
  Set("paraGop", "12");
  Build();
  EXPECT_EQ(output_.ExtOptions, "title=kept\nlevel=31");
  EXPECT_EQ(output_.GOP, 12);
  EXPECT_EQ(output_.BufSize, -1);
  EXPECT_EQ(output_.MaxRate, 4000000);

  // No tuning for other encoders.
  output_ = {};
  Set("paraVideoEncoder", "mpeg4");
  Build();
  EXPECT_EQ(output_.ExtOptions, "");
  EXPECT_EQ(output_.GOP, -1);
  EXPECT_EQ(output_.MaxRate, -1);
}

TEST_F(BuilderTest, BitRatesFrameRateAndContainer) {
  Set("paraVideoEncoder", "mpeg4");
  Build();
  EXPECT_EQ(output_.VideoBitrate, 512000);  // defaults
  EXPECT_EQ(output_.FrameRateText, "29.97");

  output_ = {};
  Set("paraVideoBitRate", "as source");
  Set("paraFrameRate", "as source");
  Set("paraAudioBitRate", "96.5");
  Set("paraSampleRate", "as source");
  profile_.WriteString(section_, "Format", "AVI");
  Build();
  EXPECT_EQ(output_.VideoBitrate, 777000);
  EXPECT_EQ(output_.FrameRateText, "");
  EXPECT_EQ(output_.AudioBitrate, 96500);
  EXPECT_EQ(output_.AudioSampleRate, -1);
  EXPECT_EQ(output_.FileFormat, "AVI");

  output_ = {};
  source_.VideoBitRate = -1;  // unknown: the encoder's own default
  Set("paraAudioBitRate", "12.2");
  profile_.WriteString(section_, "Format", "mp4");
  Build();
  EXPECT_EQ(output_.VideoBitrate, -1);
  EXPECT_EQ(output_.AudioBitrate, 12200);
  EXPECT_EQ(output_.FileFormat, "");

  output_ = {};
  Set("paraAudioBitRate", "as source");
  Set("paraVideoBitRate", "");  // a list the profile did not offer
  Set("paraSampleRate", "");
  Build();
  EXPECT_EQ(output_.AudioBitrate, -1);
  EXPECT_EQ(output_.VideoBitrate, -1);
  EXPECT_EQ(output_.AudioSampleRate, -1);
}

TEST_F(BuilderTest, ValuesThatDoNotConvertStopTheBuilder) {
  Set("paraVideoEncoder", "mpeg4");
  for (auto [key, value] : {std::pair{"paraVideoBitRate", "fast"},
                            {"paraVideoSize", "axb"},
                            {"paraVideoSize", "320x"},
                            {"paraAudioBitRate", "high"},
                            {"paraChannel", "two"},
                            {"paraSampleRate", "44.1k"}}) {
    SCOPED_TRACE(std::string(key) + "=" + value);
    TIniFile saved("");
    saved.WriteString(section_, "paraVideoEncoder", "mpeg4");
    saved.WriteString(section_, key, value);
    TOutputOptions output;
    TInputOptions input;
    EXPECT_THROW(BuildConversionOptions(saved, profile_, kFormat, kZoomLetterBox, source_, output, input),
                 EConvertError);
  }
}

TEST_F(BuilderTest, H263SizesAreRaisedToTheNextStandardSize) {
  struct Case {
    const char* stored;
    const char* aspect;  // the target size the letter box fits into
  } cases[] = {
      {"400x300", "704:576"}, {"352x288", "352:288"}, {"160x100", "160:100"}, {"200x150", "352:288"},
      {"800x600", "704:576"}, {"176x144", "176:144"}, {"704x576", "704:576"}, {"700x500", "704:576"},
  };
  profile_.WriteString(section_, "Format", "3gp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    Set("paraVideoEncoder", "h263");
    Set("paraVideoSize", c.stored);
    output_ = {};
    Build();
    EXPECT_EQ(output_.AspectRatio, c.aspect);
  }
  // Only for H.263.
  Set("paraVideoEncoder", "mpeg4");
  Set("paraVideoSize", "400x300");
  output_ = {};
  Build();
  EXPECT_EQ(output_.AspectRatio, "400:300");
}

TEST_F(BuilderTest, LetterBoxOnlyWithBothSizesAndInLetterBoxMode) {
  Set("paraVideoEncoder", "mpeg4");
  Set("paraVideoSize", "320x180");
  Build();
  EXPECT_EQ(output_.FrameSize, "240x180");  // the worked example through the builder
  EXPECT_EQ(output_.AspectRatio, "320:180");
  EXPECT_EQ(PadsOf(output_), (Pads{-1, -1, 40, 40}));
  // A crop not given stays unset: a zero crop would be checked against a
  // picture the source may not have.
  EXPECT_EQ(output_.CropTop, -1);
  EXPECT_EQ(output_.CropLeft, -1);

  for (const char* zoom : {"cent", "full", "orig"}) {
    SCOPED_TRACE(zoom);
    output_ = {};
    output_.CropLeft = 20;
    Build(zoom);
    EXPECT_EQ(output_.FrameSize, "");
    EXPECT_EQ(output_.AspectRatio, "");
    EXPECT_EQ(PadsOf(output_), (Pads{-1, -1, -1, -1}));
    EXPECT_EQ(output_.CropLeft, 20);
  }

  // A stored size without "x" (the default "null" included), or "x" first.
  for (const char* size : {"null", "x240", "320", ""}) {
    SCOPED_TRACE(size);
    Set("paraVideoSize", size);
    output_ = {};
    Build();
    EXPECT_EQ(output_.FrameSize, "");
    EXPECT_EQ(output_.AspectRatio, "");
    EXPECT_EQ(output_.VideoCodec, "mpeg4");
  }

  // A file without a picture keeps what it has.
  Set("paraVideoSize", "320x240");
  source_ = {};
  source_.HasAudio = true;
  output_ = {};
  Build();
  EXPECT_EQ(output_.FrameSize, "");
  EXPECT_EQ(PadsOf(output_), (Pads{-1, -1, -1, -1}));
  EXPECT_EQ(output_.VideoCodec, "mpeg4");
  EXPECT_EQ(output_.AudioCodec, "aac");
}

TEST_F(BuilderTest, SourceSizeIsMadeEven) {
  Set("paraVideoEncoder", "mpeg4");
  Set("paraVideoSize", "as source");
  source_.Width = 640;
  source_.Height = 480;
  output_.CropLeft = 20;
  Build();
  EXPECT_EQ(output_.FrameSize, "640x480");
  EXPECT_EQ(PadsOf(output_), (Pads{0, 0, 10, 10}));

  source_.Width = 175;
  source_.Height = 99;
  output_ = {};
  Build();
  EXPECT_EQ(output_.AspectRatio, "174:98");
  int width = 0, height = 0;
  ASSERT_EQ(sscanf(output_.FrameSize.c_str(), "%dx%d", &width, &height), 2);
  EXPECT_EQ(width % 2, 0);
  EXPECT_EQ(height % 2, 0);
}

}  // namespace
