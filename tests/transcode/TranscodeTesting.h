#pragma once
// Conversions through a session, and what the tests read back from their
// outputs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"
#include "tests/fixtures/FixtureGenerator.h"
#include "tests/fixtures/MediaCheck.h"
#include "tests/support/TestSupport.h"

using Options = std::vector<std::pair<std::string, std::string>>;

// A session with its log lines kept.
struct TestSession {
  TestSession() {
    session.InitSession();
    session.LogHandler = [this](TCustomFFmpeg&, int level, const std::string& text) {
      lines.emplace_back(level, text);
    };
  }
  ~TestSession() {
    session.CloseOpenEncoders();
    session.CloseOpenDecoders();
    session.ReleaseSession();
  }

  void Apply(const Options& options) {
    for (const auto& [name, value] : options) session.ParseOption(name, value);
  }
  void Input(const std::string& file, const Options& options = {}) {
    Apply(options);
    ASSERT_TRUE(session.OpenInputFile(file)) << session.LastError;
  }
  void Output(const std::string& file, const Options& options = {}) {
    Apply(options);
    ASSERT_TRUE(session.OpenOutputFile(file)) << session.LastError;
  }
  // Runs the transcode as the converter does: codecs left open by a failed
  // run are closed afterwards. The failure's message, empty on success.
  std::string Run() {
    std::string failure;
    try {
      session.RunTranscode();
    } catch (const FFMpegException& e) {
      failure = e.what();
    }
    session.CloseOpenEncoders();
    session.CloseOpenDecoders();
    return failure;
  }
  bool Logged(const std::string& text) const {
    for (const auto& line : lines)
      if (line.second == text) return true;
    return false;
  }
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& line : lines)
      if (line.second.rfind(prefix, 0) == 0) found.push_back(line.second);
    return found;
  }

  TCustomFFmpeg session;
  std::vector<std::pair<int, std::string>> lines;
};

class TranscodeTest : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    FF.av_log_set_level(AV_LOG_ERROR);  // keep the stream dumps out of the test output
  }

  testsupport::TempFolder folder;
};

// What a user would check in a written file.
struct StreamSummary {
  bool present = false;
  std::string codec;
  int width = 0, height = 0;
  int sampleRate = 0, channels = 0;
  double seconds = 0;  // from the first to the end of the last packet
  int packets = 0;
  int keyPackets = 0;
  bool firstIsKey = false;
};

struct MediaSummary {
  bool opened = false;
  std::string format;
  StreamSummary video, audio, subtitle;
};

// Reads every packet of a file.
MediaSummary Summarize(const std::string& path);

// The decoded pictures of the first video stream, in order, and their frame
// counters.
std::vector<fixtures_test::DecodedPicture> Pictures(const std::string& path, double frameRate = 25.0);
std::vector<int> PictureCounters(const std::string& path, double frameRate = 25.0);

// The decoded audio of the first audio stream.
fixtures_test::DecodedAudio FirstAudio(const std::string& path);

// Writes the packets of source into target (the muxer from its name), each
// first handed to edit with its stream: edit may change the timestamps,
// which are in the stream's time base, and returns false to leave the packet
// out.
void Remux(const std::string& source, const std::string& target,
           const std::function<bool(AVPacket& packet, const AVStream& stream)>& edit);
