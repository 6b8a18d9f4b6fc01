// Generic options of the media library's option system, the rules that route
// them to a media type, and codec lookup by name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"
#include "tests/support/TestSupport.h"

namespace {

class GenericOptions : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    session.InitSession();
    session.LogHandler = [this](TCustomFFmpeg&, int, const std::string& text) { logLines.push_back(text); };
  }

  int64_t Int(void* holder, const char* name) {
    int64_t value = 0;
    EXPECT_GE(FF.av_opt_get_int(holder, name, 0, &value), 0) << name;
    return value;
  }
  void* Video() { return session.CodecOptions[AVMEDIA_TYPE_VIDEO]; }
  void* Audio() { return session.CodecOptions[AVMEDIA_TYPE_AUDIO]; }

  TCustomFFmpeg session;
  std::vector<std::string> logLines;
};

TEST_F(GenericOptions, BitRatesGoToTheirMediaType) {
  const int64_t audioDefault = Int(Audio(), "b");
  session.ParseOption("vb", "512k");
  EXPECT_EQ(Int(Video(), "b"), 512000);
  EXPECT_EQ(Int(Audio(), "b"), audioDefault);

  session.ParseOption("b", "800000");  // a generic "b" reaches every type that has it
  EXPECT_EQ(Int(Video(), "b"), 800000);
  EXPECT_EQ(Int(Audio(), "b"), 800000);

  session.ParseOption("ab", "128000");
  session.ParseOption("abt", "1000");
  EXPECT_EQ(Int(Audio(), "b"), 128000);
  EXPECT_EQ(Int(Audio(), "bt"), 1000);
  EXPECT_EQ(Int(Video(), "b"), 800000);
  EXPECT_EQ(session.GenericOptionNames, (std::vector<std::string>{"b", "b", "ab", "bt"}));
  EXPECT_TRUE(logLines.empty());
}

TEST_F(GenericOptions, TooLowBitRateIsWarnedAbout) {
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  session.ParseOption("vb", "64000");
  EXPECT_TRUE(logLines.empty());
  session.ParseOption("ab", "64");
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], warning);
  session.ParseOption("b", "500");
  EXPECT_EQ(logLines.size(), 2u);
}

TEST_F(GenericOptions, RenamedAndPrivateOptionsAreKept) {
  EXPECT_TRUE(session.SetGenericOption("gop", "18"));
  EXPECT_EQ(Int(Video(), "g"), 18);
  EXPECT_TRUE(session.SetGenericOption("packetsize", "2324"));
  EXPECT_EQ(Int(session.FormatOptions, "packetsize"), 2324);
  EXPECT_TRUE(session.SetGenericOption("sws_flags", "bilinear"));
  EXPECT_EQ(Int(session.ScalerOptions, "sws_flags"), SWS_BILINEAR);
  // Options of one encoder or one muxer.
  EXPECT_TRUE(session.SetGenericOption("crf", "20"));
  EXPECT_TRUE(session.SetGenericOption("coder", "0"));
  EXPECT_TRUE(session.SetGenericOption("muxrate", "1411200"));
  EXPECT_TRUE(session.SetGenericOption("flags", "+scan_offset"));
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(session.EncoderPrivateOptions, (Pairs{{"crf", "20"}, {"coder", "0"}, {"scan_offset", "1"}}));
  EXPECT_EQ(session.MuxerPrivateOptions, (Pairs{{"muxrate", "1411200"}}));
}

TEST_F(GenericOptions, RefusesUnknownNamesBadValuesAndAccessOptions) {
  EXPECT_FALSE(session.SetGenericOption("nosuchoption", "1"));
  EXPECT_FALSE(session.SetGenericOption("b", "fast"));
  EXPECT_FALSE(session.SetGenericOption("crf", "abc"));
  EXPECT_FALSE(session.SetGenericOption(" ", "1"));
  EXPECT_FALSE(session.SetGenericOption("g", "  "));
  EXPECT_FALSE(session.SetGenericOption("protocol_whitelist", "file,http,tcp"));
  EXPECT_FALSE(session.SetGenericOption("format_whitelist", "concat"));
  EXPECT_TRUE(session.GenericOptionNames.empty());
  EXPECT_TRUE(session.EncoderPrivateOptions.empty());
}

TEST_F(GenericOptions, ContextOptionsFollowTheFlagMaskAndOnlyWhatWasSet) {
  ASSERT_TRUE(session.SetGenericOption("g", "18"));          // video, encoding
  ASSERT_TRUE(session.SetGenericOption("cutoff", "15000"));  // audio, encoding
  ASSERT_TRUE(session.SetGenericOption("ab", "96000"));
  const AVCodec* x264 = FF.avcodec_find_encoder_by_name("libx264");
  ASSERT_NE(x264, nullptr);
  CodecContextPtr video(FF.avcodec_alloc_context3(x264));
  CodecContextPtr audio(FF.avcodec_alloc_context3(nullptr));
  CodecContextPtr decoder(FF.avcodec_alloc_context3(nullptr));

  session.SetContextOptions(video.get(), Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  session.SetContextOptions(audio.get(), Audio(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  session.SetContextOptions(decoder.get(), Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);

  EXPECT_EQ(video->gop_size, 18);
  // The audio bit rate does not replace the encoder's own default (x264: none).
  EXPECT_EQ(video->bit_rate, 0);
  EXPECT_EQ(video->cutoff, 0);
  EXPECT_EQ(audio->cutoff, 15000);
  EXPECT_EQ(audio->bit_rate, 96000);
  EXPECT_NE(decoder->gop_size, 18);  // an encoding option does not reach a decoder
}

TEST_F(GenericOptions, DebugOptionRaisesTheVerbosity) {
  const int saved = FF.av_log_get_level();
  ASSERT_TRUE(session.SetGenericOption("debug", "pict"));
  EXPECT_EQ(session.Verbose, 2);
  EXPECT_EQ(FF.av_log_get_level(), AV_LOG_DEBUG);
  FF.av_log_set_level(saved);
  CurrentLogLevel = saved;
}

TEST_F(GenericOptions, FindCodecResolvesCurrentAndOldNames) {
  struct Case {
    std::string name;
    AVMediaType type;
    bool encoder;
    bool found;
    AVCodecID id;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"", AVMEDIA_TYPE_VIDEO, true, true, AV_CODEC_ID_NONE, ""},
      {"libx264", AVMEDIA_TYPE_VIDEO, true, true, AV_CODEC_ID_H264, ""},
      {"libfaac", AVMEDIA_TYPE_AUDIO, true, true, AV_CODEC_ID_AAC, ""},
      {"libamr_nb", AVMEDIA_TYPE_AUDIO, true, true, AV_CODEC_ID_AMR_NB, ""},
      {"h264", AVMEDIA_TYPE_VIDEO, false, true, AV_CODEC_ID_H264, ""},
      {"nosuch", AVMEDIA_TYPE_VIDEO, true, false, AV_CODEC_ID_NONE, "Unknown encoder 'nosuch'"},
      {"nosuch", AVMEDIA_TYPE_AUDIO, false, false, AV_CODEC_ID_NONE, "Unknown decoder 'nosuch'"},
      {"mp2", AVMEDIA_TYPE_VIDEO, true, false, AV_CODEC_ID_NONE, "Invalid encoder type 'mp2'"},
      {"mpeg4", AVMEDIA_TYPE_SUBTITLE, false, false, AV_CODEC_ID_NONE, "Invalid decoder type 'mpeg4'"},
  };
  for (const Case& c : cases) {
    session.LastError.clear();
    AVCodecID id = AV_CODEC_ID_PROBE;
    EXPECT_EQ(session.FindCodec(c.name, c.type, c.encoder, id), c.found) << c.name;
    EXPECT_EQ(id, c.id) << c.name;
    EXPECT_EQ(session.LastError, c.error) << c.name;
  }
}

}  // namespace
