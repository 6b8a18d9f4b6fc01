// Set-up of a transcode: the choice of sources, the mapping log, and every
// failure with its message.
#include "engine/binding/MyUtils.h"
#include "tests/transcode/TranscodeTesting.h"

using testsupport::Fixture;

namespace {

struct FailureCase {
  const char* name;
  std::vector<std::pair<std::string, Options>> inputs;  // file in the fixture set, options before it
  std::vector<std::pair<std::string, Options>> outputs;  // file name in the test folder, options before it
  std::string message;  // "{folder}" stands for the test folder
  bool failsBeforeCodecs;
  bool customHook = false;
};

TEST_F(TranscodeTest, SetUpFailuresRaiseTheirMessage) {
  const FailureCase cases[] = {
      {"output without streams",
       {{"video_only.avi", {}}},
       {{"a.avi", {}}, {"b.wav", {}}},
       "Output file does not contain any stream",
       true},
      {"map count",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"map", "0:0"}}}},
       "Number of stream maps must match number of output streams",
       true},
      {"map stream index",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"map", "0:5"}, {"map", "0:1"}}}},
       "Could not find input stream #0.5",
       true},
      {"map file index",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"map", "1:0"}, {"map", "0:1"}}}},
       "Could not find input stream #1.0",
       true},
      {"sync stream",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"map", "0:0:1:0"}, {"map", "0:1"}}}},
       "Could not find sync stream #1.0",
       true},
      {"type mismatch",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"map", "0:0"}, {"map", "0:0"}}}},
       "Codec type mismatch for mapping #0.0 -> #0.1",
       true},
      {"no stream of the program",
       {{"ts_two_programs.ts", {{"programid", "99"}}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}}}},
       "Could not find input stream matching output stream #0.0",
       true},
      {"audio copy with volume",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}, {"vol", "300"}}}},
       "-acodec copy and -vol are incompatible (frames are not decoded)",
       true},
      {"video copy with a picture hook",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}}}},
       "-vcodec copy and CustomHook are incompatible (frames are not decoded)",
       true,
       true},
      {"second pass without its log",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.avi", {{"pass", "2"}, {"passlogfile", "{folder}/stats"}}}},
       "creat open fail: {folder}/stats-0.log",
       true},
      {"metadata map to a missing output",
       {{"tagged.mp4", {}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}, {"map_meta_data", "1:0"}}}},
       "Invalid output file index 1 map_meta_data(1,0)",
       false},
      {"metadata map from a missing input",
       {{"tagged.mp4", {}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}, {"map_meta_data", "0:3"}}}},
       "Invalid input file index 3 map_meta_data(0,3)",
       false},
      {"bitstream filter that does not fit the stream",
       {{"avi_mpeg4_mp3.avi", {}}},
       {{"a.mkv", {{"vcodec", "copy"}, {"acodec", "copy"}, {"vbsf", "h264_mp4toannexb"}}}},
       "h264_mp4toannexb failed for stream 0, codec copy: Error while parsing header",
       true},
      {"encoder refuses its parameters",
       {{"tone.wav", {}}},
       {{"a.mp2", {{"ar", "12345"}}}},
       "Error while opening codec for output stream #0.0 - maybe incorrect parameters such as bit_rate, rate, "
       "width or height",
       true},
  };
  auto fill = [&](std::string text) {
    const std::string marker = "{folder}";
    for (size_t at; (at = text.find(marker)) != std::string::npos;) text.replace(at, marker.size(), folder.Path());
    return text;
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestSession run;
    for (const auto& [file, options] : c.inputs) run.Input(Fixture(file), options);
    for (const auto& [file, options] : c.outputs) {
      Options filled;
      for (const auto& [name, value] : options) filled.emplace_back(name, fill(value));
      run.Output(folder.File(file), filled);
    }
    if (c.customHook) run.session.CustomHookHandler = [](TCustomFFmpeg&, TBitmap&, int, int64_t, bool&, bool&) {};
    std::string message;
    try {
      run.session.RunTranscode();
    } catch (const FFMpegException& e) {
      message = e.what();
    }
    EXPECT_EQ(message, fill(c.message));
    if (c.failsBeforeCodecs) {
      EXPECT_TRUE(run.session.OpenEncoders.empty());
    }
    EXPECT_TRUE(run.session.OpenDecoders.empty());  // released with the run tables
    EXPECT_FALSE(run.session.CompletedNormally);
  }
}

TEST_F(TranscodeTest, StreamMappingIsLoggedWithItsSyncStreams) {
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"));
  run.Output(folder.File("mapped.mkv"),
             {{"vcodec", "copy"}, {"acodec", "copy"}, {"map", "0:0:0:1"}, {"map", "0:1"}});
  ASSERT_EQ(run.Run(), "");
  std::vector<std::string> mapping;
  bool inMapping = false;
  for (const auto& [level, text] : run.lines) {
    if (text == "Stream mapping:") inMapping = true;
    if (inMapping && mapping.size() < 4) {
      EXPECT_EQ(level, 1);
      mapping.push_back(text);
    }
  }
  const std::vector<std::string> expected = {"Stream mapping:", "  Stream #0.0 -> #0.0", " [sync #0.1]",
                                             "  Stream #0.1 -> #0.1"};
  EXPECT_EQ(mapping, expected);
}

TEST_F(TranscodeTest, ProgramIdTakesTheStreamsOfThatProgram) {
  for (const int program : {1, 2}) {
    SCOPED_TRACE(program);
    const std::string output = folder.File("program.mkv");
    {
      TestSession run;
      run.Input(Fixture("ts_two_programs.ts"), {{"programid", std::to_string(program)}});
      run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
      ASSERT_EQ(run.Run(), "");
      const int first = 2 * (program - 1);
      const std::vector<std::string> expected = {FormatText("  Stream #0.%d -> #0.0", first),
                                                 FormatText("  Stream #0.%d -> #0.1", first + 1)};
      EXPECT_EQ(run.LinesStartingWith("  Stream #"), expected);
    }
    const MediaSummary out = Summarize(output);
    EXPECT_EQ(out.video.packets, 75);
    EXPECT_GT(out.audio.packets, 0);
    EXPECT_EQ(PictureCounters(output).size(), 75u);
  }
}

TEST_F(TranscodeTest, MetadataMapCopiesTheInputsTags) {
  for (const bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "not mapped");
    const std::string output = folder.File(mapped ? "tagged.mkv" : "untagged.mkv");
    {
      TestSession run;
      run.Input(Fixture("tagged.mp4"));
      if (mapped) run.Apply({{"map_meta_data", "0:0"}});
      run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
      ASSERT_EQ(run.Run(), "");
    }
    fixtures_test::InputPtr input = fixtures_test::OpenMedia(output);
    ASSERT_TRUE(input);
    auto tag = [&](const char* key) {
      const AVDictionaryEntry* entry = av_dict_get(input->metadata, key, nullptr, 0);
      return std::string(entry ? entry->value : "");
    };
    EXPECT_EQ(tag("title"), mapped ? "Fixture Title" : "");
    EXPECT_EQ(tag("artist"), mapped ? "Fixture Artist" : "");
    EXPECT_EQ(tag("album"), mapped ? "Fixture Album" : "");
    EXPECT_EQ(tag("genre"), mapped ? "Test" : "");
  }
}

TEST_F(TranscodeTest, OutputsWithoutMapsTakeFreeStreamsThenShareTheLastOne) {
  // Two audio outputs from one audio input: the first takes the stream, the
  // second finds none left and encodes from the same decoder.
  const std::string first = folder.File("first.wav");
  const std::string second = folder.File("second.wav");
  TestSession run;
  run.Input(Fixture("tone.wav"));
  run.Output(first);
  run.Output(second);
  ASSERT_EQ(run.Run(), "");
  const std::vector<std::string> expected = {"  Stream #0.0 -> #0.0", "  Stream #0.0 -> #1.0"};
  EXPECT_EQ(run.LinesStartingWith("  Stream #"), expected);
  for (const std::string& file : {first, second}) {
    const fixtures_test::DecodedAudio audio = FirstAudio(file);
    EXPECT_NEAR(audio.Seconds(), 3.0, 0.05) << file;
    EXPECT_NEAR(audio.ToneHz(), 440, 10) << file;
  }
}

}  // namespace
