// What the options builder learns of a real file through the probe.
#include <gtest/gtest.h>

#include "app/ConversionOptions.h"
#include "app/FormatProfiles.h"
#include "app/SourceInfo.h"
#include "engine/probe/AVProbe.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::Fixture;

class SourceInfoTest : public ::testing::Test {
protected:
  void SetUp() override { testsupport::LoadLibrariesOrFail(); }
};

TEST_F(SourceInfoTest, VideoFileGivesItsPictureSizeBeforeAndAfterDecoding) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("avi_mpeg4_mp3.avi"))) << probe.LastError();
  TSourceInfo info = SourceInfoFromProbe(probe);
  EXPECT_TRUE(info.HasVideo);
  EXPECT_TRUE(info.HasAudio);
  EXPECT_EQ(info.Width, 160);
  EXPECT_EQ(info.Height, 120);
  EXPECT_GT(info.DurationMs, 2000);
  EXPECT_LT(info.DurationMs, 4000);

  probe.DecodeFrame(probe.FirstVideoStream());
  info = SourceInfoFromProbe(probe);
  EXPECT_EQ(info.Width, 160);
  EXPECT_EQ(info.Height, 120);
}

TEST_F(SourceInfoTest, AudioFileHasNoPicture) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("tone.wav"))) << probe.LastError();
  const TSourceInfo info = SourceInfoFromProbe(probe);
  EXPECT_FALSE(info.HasVideo);
  EXPECT_TRUE(info.HasAudio);
  EXPECT_EQ(info.Width, 0);
  EXPECT_EQ(info.Height, 0);
  EXPECT_EQ(info.VideoBitRate, -1);

  // Converted to a video format it makes a sound job: no frame size to
  // letter-box, no crop to check against a picture that is not there.
  TIniFile settings("");
  TIniFile profiles("");
  settings.WriteString(FormatSection(0), "paraVideoEncoder", "flv");
  settings.WriteString(FormatSection(0), "paraVideoSize", "320x240");
  TOutputOptions output;
  TInputOptions input;
  BuildConversionOptions(settings, profiles, 0, kZoomLetterBox, info, output, input);
  EXPECT_EQ(output.FrameSize, "");
  EXPECT_EQ(output.CropTop, -1);
  EXPECT_EQ(output.PadLeft, -1);
  EXPECT_EQ(output.AudioCodec, "aac");
}

TEST_F(SourceInfoTest, ClosedProbeGivesNothing) {
  TAVProbe probe;
  const TSourceInfo info = SourceInfoFromProbe(probe);
  EXPECT_FALSE(info.HasVideo);
  EXPECT_FALSE(info.HasAudio);
  EXPECT_EQ(info.Width, 0);
  EXPECT_EQ(info.DurationMs, -1);
}

}  // namespace
