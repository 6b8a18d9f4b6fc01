// Every output format of the shipped profile file, converted for real: one
// case per format and per (video encoder, audio encoder) pair its profile
// offers, each at the profile's default choices otherwise. The job is built
// from the stored choices the way the application builds it, converted by the
// component on a worker thread, and the written file decoded back: container,
// codecs, picture size, frame and sample rates, channels, sound that is
// audible, pictures that are not black, and the length of both streams.
//
// The case list is read from the profile file, so a format or encoder added
// to the file is converted here without touching this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/parseutils.h>
}

#include "app/ConversionOptions.h"
#include "app/FormatProfiles.h"
#include "app/GlobalUnit.h"
#include "app/IniFile.h"
#include "app/SourceInfo.h"
#include "engine/binding/CodecAliases.h"
#include "tests/component/ComponentTesting.h"
#include "tests/fixtures/FixtureGenerator.h"
#include "tests/fixtures/MediaCheck.h"
#include "tests/support/TestSupport.h"

namespace {

using componenttest::EventRecorder;
using componenttest::Kind;

// The source: short, so that the many cases stay quick.
constexpr double kSourceSeconds = 2.0;
constexpr int kSourceWidth = 160;
constexpr int kSourceHeight = 120;

// A decoded length may differ from the source's by codec framing (an audio
// frame of up to 2048 samples, encoder priming) and by one picture at either
// end.
constexpr double kLengthTolerance = 0.15;
// The source's tone has amplitude 0.5 (RMS 0.35) and every default volume is
// 100 %: half the level or less means lost or wrongly scaled sound.
constexpr double kRmsFloor = 0.2;
// The test picture's mean luma is near 100; a black picture is 16 or less.
constexpr double kLumaFloor = 40;
// Pictures looked at from the start of the output.
constexpr int kPicturesChecked = 5;

std::string ProfilePath() {
  return testsupport::ProgramFolder() + "/tovrinflvformat.ini";
}

struct MatrixCase {
  int Format = 0;
  int VideoEncoder = -1;  // item of the profile's video encoder list; -1 audio only
  int AudioEncoder = 0;   // item of its audio encoder list
  bool DefaultPair = false;
  std::string Name;
};

void PrintTo(const MatrixCase& matrixCase, std::ostream* out) {
  *out << matrixCase.Name;
}

// Letters and digits of a display name ("MPEG-4" gives MPEG4).
std::string NamePart(const std::string& text) {
  std::string part;
  for (unsigned char c : text)
    if (std::isalnum(c)) part += static_cast<char>(c);
  return part.empty() ? "none" : part;
}

std::vector<MatrixCase> MatrixCases() {
  std::vector<MatrixCase> cases;
  const TIniFile profiles(ProfilePath());
  for (int n = 0; n < kFormatCount; ++n) {
    if (!profiles.SectionExists(FormatSection(n))) continue;
    const TFormatProfile profile = ReadFormatProfile(profiles, n);
    const auto& videoEncoders = profile.List(flVideoEncoder);
    const auto& audioEncoders = profile.List(flAudioEncoder);
    const int videoCount = profile.AudioOnly() ? 1 : static_cast<int>(videoEncoders.Items.size());
    for (int v = 0; v < videoCount; ++v) {
      for (int a = 0; a < static_cast<int>(audioEncoders.Items.size()); ++a) {
        MatrixCase matrixCase;
        matrixCase.Format = n;
        matrixCase.VideoEncoder = profile.AudioOnly() ? -1 : v;
        matrixCase.AudioEncoder = a;
        matrixCase.DefaultPair =
            (profile.AudioOnly() || v == videoEncoders.DefaultIndex) && a == audioEncoders.DefaultIndex;
        matrixCase.Name = "format" + std::to_string(n) + "_" +
                          (profile.AudioOnly() ? std::string("audio") : NamePart(videoEncoders.Items[v])) +
                          "_" + NamePart(audioEncoders.Items[a]);
        cases.push_back(matrixCase);
      }
    }
  }
  return cases;
}

// The source file, written once per test program: the standard test pattern
// and tone as MPEG-4 and MP3 in AVI, like a typical user's file.
const std::string& Source() {
  static testsupport::TempFolder folder;
  static const std::string path = [] {
    const std::string file = folder.File("source.avi");
    fixtures::MediaSpec recipe;
    recipe.muxer = "avi";
    recipe.videoCodec = "mpeg4";
    recipe.videoTag = "DIVX";
    recipe.audioCodec = "libmp3lame";
    recipe.width = kSourceWidth;
    recipe.height = kSourceHeight;
    recipe.seconds = kSourceSeconds;
    std::string error;
    if (!fixtures::WriteMedia(file, recipe, &error)) ADD_FAILURE() << "cannot write " << file << ": " << error;
    return file;
  }();
  return path;
}

// What the written file is checked against: the container the format list
// names, and the profile's chosen items; never the built job.
struct Expected {
  std::string Muxer;                   // the container of the format's file type
  AVCodecID Video = AV_CODEC_ID_NONE;  // none: no video stream
  AVCodecID Audio = AV_CODEC_ID_NONE;
  int Width = 0, Height = 0;
  AVRational FrameRate{0, 1};
  int SampleRate = 0;  // 0: the source's
  int Channels = 0;    // 0: the source's
};

// The container the format list names: the one its "(*.ext)" selects.
const AVOutputFormat* MuxerOf(int formatIndex) {
  const std::string text(FormatText(formatIndex));
  const size_t open = text.rfind("(*.");
  const size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return nullptr;
  return av_guess_format(nullptr, ("out." + text.substr(open + 3, close - open - 3)).c_str(), nullptr);
}

// The stream an encoder display name stands for: the encoder it names, or
// the codec it names (an encoder the libraries lack then fails the
// conversion), or, for a container's name (swf, mov, 3gp), the container's
// default encoder.
AVCodecID CodecOf(const std::string& encoderName, const AVOutputFormat* muxer, AVMediaType type) {
  const std::string name = ResolveEncoderName(
      encoderName, [](const std::string& n) { return avcodec_find_encoder_by_name(n.c_str()) != nullptr; });
  if (const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str()); codec && codec->type == type)
    return codec->id;
  if (const AVCodecDescriptor* codec = avcodec_descriptor_get_by_name(name.c_str());
      codec && codec->type == type)
    return codec->id;
  return av_guess_codec(muxer, nullptr, nullptr, nullptr, type);
}

Expected ExpectedOutput(const TFormatProfile& profile, const TFormatChoices& choices) {
  Expected expected;
  const AVOutputFormat* muxer = MuxerOf(profile.FormatIndex);
  if (!muxer) return expected;
  expected.Muxer = muxer->name;
  if (!profile.AudioOnly()) {
    expected.Video = CodecOf(VideoEncoderForDisplayName(choices[flVideoEncoder].Text).value_or(""), muxer,
                             AVMEDIA_TYPE_VIDEO);
    std::sscanf(choices[flVideoSize].Text.c_str(), "%dx%d", &expected.Width, &expected.Height);
    av_parse_video_rate(&expected.FrameRate, choices[flFrameRate].Text.c_str());
  }
  expected.Audio = CodecOf(AudioEncoderForDisplayName(choices[flAudioEncoder].Text).value_or(""), muxer,
                           AVMEDIA_TYPE_AUDIO);
  const std::string& rate = choices[flSampleRate].Text;
  if (rate != "as source") expected.SampleRate = std::stoi(rate);
  const std::string channels = ChannelValueFor(choices[flChannel].Text).value_or("as source");
  if (channels != "as source") expected.Channels = std::stoi(channels);
  return expected;
}

// The demuxer that reads each container back, and for the ISO family the
// first characters of the major brand that tell its members apart.
struct ContainerSign {
  std::string Demuxer;
  std::string Brand;  // empty: not checked
};

ContainerSign SignOf(const std::string& muxer, bool hasVideo) {
  static const std::string isoDemuxer = "mov,mp4,m4a,3gp,3g2,mj2";
  static const std::map<std::string, ContainerSign> signs = {
      {"flv", {"flv", ""}},         {"swf", {"swf", ""}},        {"avi", {"avi", ""}},
      {"mpeg", {"mpeg", ""}},       {"asf", {"asf", ""}},        {"wav", {"wav", ""}},
      {"mp3", {"mp3", ""}},         {"adts", {"aac", ""}},       {"3gp", {isoDemuxer, "3gp"}},
      {"3g2", {isoDemuxer, "3g2"}}, {"mov", {isoDemuxer, "qt"}}, {"mp4", {isoDemuxer, "isom"}},
  };
  if (muxer == "ipod") return {isoDemuxer, hasVideo ? "M4V" : "M4A"};
  const auto found = signs.find(muxer);
  return found == signs.end() ? ContainerSign{} : found->second;
}

class FormatMatrixTest : public ::testing::TestWithParam<MatrixCase> {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    av_log_set_level(AV_LOG_ERROR);
    global_.SetMainIniFile(folder_.File("config/tovrinflvvideoconverter.ini"));
    global_.SetFormatIniFile(ProfilePath());
  }

  // The names of the choices, for failure messages.
  static std::string Describe(const TFormatChoices& choices) {
    std::string text;
    for (const TListChoice& choice : choices.Lists) text += "[" + choice.Text + "]";
    return text;
  }

  testsupport::TempFolder folder_;
  TGlobalObject global_;
};

TEST(FormatMatrixCasesTest, EveryFormatHasACaseAndExactlyOneDefaultPair) {
  std::vector<int> cases(kFormatCount), defaults(kFormatCount);
  for (const MatrixCase& matrixCase : MatrixCases()) {
    ++cases[matrixCase.Format];
    defaults[matrixCase.Format] += matrixCase.DefaultPair;
  }
  for (int n = 0; n < kFormatCount; ++n) {
    EXPECT_GT(cases[n], 0) << FormatText(n) << " in " << ProfilePath();
    EXPECT_EQ(defaults[n], 1) << FormatText(n);
  }
}

TEST_P(FormatMatrixTest, ConvertsAndDecodesAsChosen) {
  const MatrixCase& matrixCase = GetParam();
  const int n = matrixCase.Format;
  const TIniFile profiles(ProfilePath());
  const TFormatProfile profile = ReadFormatProfile(profiles, n);

  // The choices: the profile's defaults with this case's encoders. The
  // default pair is converted with the format's section never saved, as on
  // a first run; the other pairs as saved by the settings dialog's OK.
  TFormatChoices choices = DefaultFormatChoices(profile);
  if (matrixCase.VideoEncoder >= 0)
    choices[flVideoEncoder] = ChooseItem(profile.List(flVideoEncoder).Items, matrixCase.VideoEncoder);
  choices[flAudioEncoder] = ChooseItem(profile.List(flAudioEncoder).Items, matrixCase.AudioEncoder);
  if (!matrixCase.DefaultPair) SaveFormatChoices(global_, choices);
  SCOPED_TRACE(std::string(FormatText(n)) + " " + Describe(choices));
  const Expected expected = ExpectedOutput(profile, choices);
  ASSERT_FALSE(expected.Muxer.empty()) << "no container for the file type of " << FormatText(n);

  DIZAVUrevadado converter;
  EventRecorder recorder(converter);
  ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastErrMsg();
  converter.SetLogLevel(llError);

  // The job, as Start builds it from a newly added row.
  TAVProbe& probe = converter.ConverterProbe();
  ASSERT_TRUE(probe.OpenFile(Source(), "")) << probe.LastError();
  const TSourceInfo source = SourceInfoFromProbe(probe);
  probe.CloseFile();
  TInputOptions input;
  InitInputOptions(input);
  input.FileName = Source();
  TOutputOptions output;
  InitOutputOptions(output);
  output.FileName = folder_.File("out." + profile.FileExt);
  BuildConversionOptions(global_, n, kZoomLetterBox, source, output, input);

  const int job = converter.AddInputFile(input.FileName, &input);
  ASSERT_GE(job, 0) << converter.LastErrMsg();
  ASSERT_TRUE(converter.AddOutputFile(job, output.FileName, &output)) << converter.LastErrMsg();
  converter.StartConvert(1);
  // A guard against a hung conversion, not a measure of speed.
  const bool ended = recorder.WaitForBatchEnd(std::chrono::seconds(120));
  if (!ended) converter.StopConvert();
  ASSERT_TRUE(ended) << "the batch never reported its end";
  std::string errors;
  for (const componenttest::Event& event : recorder.Of(Kind::Log))
    if (event.level == llError) errors += event.text + "\n";
  const auto terminates = recorder.Of(Kind::Terminate);
  const auto end = std::find_if(terminates.begin(), terminates.end(),
                                [&](const componenttest::Event& event) { return event.index == job; });
  ASSERT_NE(end, terminates.end());
  ASSERT_TRUE(end->finished && !end->exception) << end->text << "\n" << errors;

  // The written file, read back.
  int openResult = 0;
  const fixtures_test::InputPtr media = fixtures_test::OpenMedia(output.FileName, &openResult);
  ASSERT_TRUE(media) << output.FileName << ": " << fixtures_test::ErrorText(openResult);

  const ContainerSign sign = SignOf(expected.Muxer, expected.Video != AV_CODEC_ID_NONE);
  ASSERT_FALSE(sign.Demuxer.empty()) << "no reading of muxer " << expected.Muxer << " known here";
  EXPECT_EQ(media->iformat->name, sign.Demuxer);
  if (!sign.Brand.empty()) {
    const AVDictionaryEntry* brand = av_dict_get(media->metadata, "major_brand", nullptr, 0);
    ASSERT_NE(brand, nullptr);
    EXPECT_EQ(std::string(brand->value).substr(0, sign.Brand.size()), sign.Brand) << brand->value;
  }

  const int videoIndex = fixtures_test::FirstStream(media.get(), AVMEDIA_TYPE_VIDEO);
  const int audioIndex = fixtures_test::FirstStream(media.get(), AVMEDIA_TYPE_AUDIO);
  if (expected.Video == AV_CODEC_ID_NONE) {
    EXPECT_LT(videoIndex, 0) << "an audio format with a picture stream";
  } else {
    ASSERT_GE(videoIndex, 0) << "no video stream";
    const AVCodecParameters* video = media->streams[videoIndex]->codecpar;
    EXPECT_STREQ(avcodec_get_name(video->codec_id), avcodec_get_name(expected.Video));
    EXPECT_EQ(video->width, expected.Width);
    EXPECT_EQ(video->height, expected.Height);
    if (!output.VideoTag.empty()) {
      char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
      av_fourcc_make_string(tag, video->codec_tag);
      EXPECT_EQ(std::string(tag), output.VideoTag);
    }

    const double frameRate = av_q2d(expected.FrameRate);
    ASSERT_GT(frameRate, 0);
    fixtures_test::VideoReader reader(media.get(), videoIndex, frameRate);
    fixtures_test::DecodedPicture picture;
    int pictures = 0;
    while (reader.Next(picture)) {
      if (pictures < kPicturesChecked) {
        EXPECT_GT(picture.meanLuma, kLumaFloor) << "picture " << pictures;
      }
      ++pictures;
    }
    EXPECT_EQ(reader.Errors(), 0);
    // The picture count at the chosen rate gives the length: a wrong rate or
    // lost pictures show here.
    EXPECT_NEAR(pictures / frameRate, kSourceSeconds, kLengthTolerance)
        << pictures << " pictures at " << frameRate << " fps";
  }

  ASSERT_GE(audioIndex, 0) << "no audio stream";
  const AVCodecParameters* audioParameters = media->streams[audioIndex]->codecpar;
  EXPECT_STREQ(avcodec_get_name(audioParameters->codec_id), avcodec_get_name(expected.Audio));
  if (expected.Channels > 0) {
    EXPECT_EQ(audioParameters->ch_layout.nb_channels, expected.Channels);
  }
  // Read from the start again: the pictures were read to the end of the file.
  const fixtures_test::InputPtr again = fixtures_test::OpenMedia(output.FileName);
  ASSERT_TRUE(again);
  const fixtures_test::DecodedAudio audio = fixtures_test::DecodeAudio(again.get(), audioIndex);
  if (expected.SampleRate > 0) {
    EXPECT_EQ(audio.sampleRate, expected.SampleRate);
  }
  EXPECT_GT(audio.Rms(), kRmsFloor);
  EXPECT_NEAR(audio.Seconds(), kSourceSeconds, kLengthTolerance);
  // The tone keeps its pitch through resampling and coding.
  EXPECT_NEAR(audio.ToneHz(), 440.0, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, FormatMatrixTest, ::testing::ValuesIn(MatrixCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) { return info.param.Name; });

}  // namespace
