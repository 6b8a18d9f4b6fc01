#pragma once
// A session with its log lines collected, for the session tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"
#include "tests/support/TestSupport.h"

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    FF.av_log_set_level(AV_LOG_ERROR);  // keep the stream dumps out of the test output
    session.InitSession();
    session.LogHandler = [this](TCustomFFmpeg&, int, const std::string& text) { logLines.push_back(text); };
  }

  bool Logged(const std::string& text) const {
    for (const std::string& line : logLines)
      if (line == text) return true;
    return false;
  }

  void Apply(const std::vector<std::pair<std::string, std::string>>& options) {
    for (const auto& [name, value] : options) session.ParseOption(name, value);
  }

  // Media types of the streams of output i, in stream order.
  std::vector<AVMediaType> StreamTypes(int output) {
    std::vector<AVMediaType> types;
    for (const TOutputStreamRecord& stream : session.OutputRecord(output).Streams)
      types.push_back(stream.Encoder->codec_type);
    return types;
  }

  AVCodecContext* Encoder(int output, int stream) {
    return session.OutputRecord(output).Streams.at(stream).Encoder.get();
  }

  testsupport::TempFolder folder;  // outlives the session, whose release touches its files
  TCustomFFmpeg session;
  std::vector<std::string> logLines;
};
