#pragma once
// A converter with recorded events and short conversions of generated media.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "tests/component/ComponentTesting.h"
#include "tests/fixtures/FixtureGenerator.h"
#include "tests/support/TestSupport.h"

namespace componenttest {

// Three seconds of 160x120 MPEG-4 video with MP3 audio.
inline std::string ShortInput() {
  return testsupport::Fixture("avi_mpeg4_mp3.avi");
}

// A minute of 320x240 video with audio, long enough that a conversion is
// still running when its first progress report arrives. Made once per
// test program.
inline std::string LongInput() {
  static testsupport::TempFolder folder;
  static const std::string path = [] {
    const std::string file = folder.File("long.avi");
    fixtures::MediaSpec recipe;
    recipe.muxer = "avi";
    recipe.videoCodec = "mpeg4";
    recipe.audioCodec = "mp2";
    recipe.width = 320;
    recipe.height = 240;
    recipe.seconds = 60;
    std::string error;
    if (!fixtures::WriteMedia(file, recipe, &error)) ADD_FAILURE() << "cannot write " << file << ": " << error;
    return file;
  }();
  return path;
}

// What a user checks of a finished output: it opens, and how long it is.
struct OutputCheck {
  bool Opens = false;
  double Seconds = 0;
  int VideoStreams = 0;
  int AudioStreams = 0;
};

inline OutputCheck CheckOutput(const std::string& fileName) {
  OutputCheck check;
  TAVProbe probe;
  if (!probe.OpenFile(fileName)) return check;
  check.Opens = true;
  TFormatInfo info;
  probe.GetFormatInfo(info);
  check.Seconds = info.Duration > 0 ? info.Duration / 1e6 : 0;
  check.VideoStreams = probe.VideoStreamCount();
  check.AudioStreams = probe.AudioStreamCount();
  return check;
}

class ConverterTest : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    converter = std::make_unique<DIZAVUrevadado>();
    recorder = std::make_unique<EventRecorder>(*converter);
    ASSERT_TRUE(converter->LoadAVLib("", true)) << converter->LastErrMsg();
    converter->SetLogLevel(llInfo);
    // Early reports: the tests that act during a run act on one.
    converter->SetProgressInterval(100);
  }

  void TearDown() override {
    // The converter goes before the recorder its handlers write to.
    converter.reset();
  }

  TOutputOptions AviOutput() const {
    TOutputOptions output;
    output.FileFormat = "avi";
    output.VideoCodec = "mpeg4";
    output.AudioCodec = "mp2";
    return output;
  }

  // Adds a job converting input into folder/name; the job's index.
  int AddJob(const std::string& input, const std::string& name) {
    TOutputOptions output = AviOutput();
    return AddJob(input, name, output);
  }
  int AddJob(const std::string& input, const std::string& name, TOutputOptions& output) {
    TInputOptions in;
    const int index = converter->AddInputFile(input, &in);
    EXPECT_GE(index, 0) << converter->LastErrMsg();
    if (index < 0) return index;
    EXPECT_TRUE(converter->AddOutputFile(index, folder.File(name), &output)) << converter->LastErrMsg();
    return index;
  }

  // Log lines of one job (or of none, -1).
  std::vector<std::string> LogLinesOf(int index) const {
    std::vector<std::string> lines;
    for (const Event& event : recorder->Of(Kind::Log))
      if (event.index == index) lines.push_back(event.text);
    return lines;
  }

  testsupport::TempFolder folder;
  std::unique_ptr<DIZAVUrevadado> converter;
  std::unique_ptr<EventRecorder> recorder;
};

}  // namespace componenttest
