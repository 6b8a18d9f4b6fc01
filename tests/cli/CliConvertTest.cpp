// tovrin-convert converting files: outputs that decode, a failing file among
// good ones, trim and crop, several jobs at once, Ctrl-C, the settings
// files, and its usage errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/fixtures/FixtureGenerator.h"
#include "tests/fixtures/MediaCheck.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures_test::DecodeAudio;
using fixtures_test::FirstStream;
using fixtures_test::OpenMedia;
using fixtures_test::VideoReader;
using testsupport::Fixture;
using testsupport::TempFolder;

struct RunResult {
  int status = -1;
  std::string output;  // standard output and error together
  bool Shows(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// Runs the program as a user whose home and configuration folders lie in
// the test's temporary folder, so that no real settings are read or written.
class Converter {
public:
  explicit Converter(const TempFolder& home) : home_(home.File("home")) { fs::create_directories(home_); }

  // Starts the program; its output comes through Output().
  void Start(const std::vector<std::string>& arguments) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string program = testsupport::ProgramFolder() + "/tovrin-convert";
    std::vector<std::string> environment = {"HOME=" + home_, "XDG_CONFIG_HOME=" + home_ + "/.config",
                                            "PATH=/usr/bin:/bin"};
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      std::vector<char*> envp;
      for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
      envp.push_back(nullptr);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
  }

  // The next line of output (without its line feed); false at the end.
  bool ReadLine(std::string& line) {
    line.clear();
    for (int c; (c = std::fgetc(output_)) != EOF;) {
      if (c == '\n') return true;
      line += static_cast<char>(c);
    }
    return !line.empty();
  }

  void Signal(int number) { kill(pid_, number); }

  // Reads the rest of the output and waits for the program's end.
  RunResult Finish(std::string before = "") {
    RunResult result;
    result.output = std::move(before);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, output_)) > 0;) result.output.append(buffer, n);
    fclose(output_);
    int raw = 0;
    waitpid(pid_, &raw, 0);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
  }

  RunResult Run(const std::vector<std::string>& arguments) {
    Start(arguments);
    return Finish();
  }

  const std::string& Home() const { return home_; }

private:
  std::string home_;
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

std::vector<std::string> Args(std::initializer_list<std::string> list) {
  return std::vector<std::string>(list);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kThreeSources = {"avi_mpeg4_mp3.avi", "mp4_h264_aac.mp4", "flv_flv1_mp3.flv"};

std::string BaseOf(const std::string& fixture) {
  return fixture.substr(0, fixture.rfind('.'));
}

TEST(CliConvertTest, ThreeFilesIntoEachFormatGiveOutputsThatDecode) {
  struct Case {
    const char* format;
    const char* extension;
    AVCodecID video;  // AV_CODEC_ID_NONE: no picture
    AVCodecID audio;
  } cases[] = {
      {"flv", "flv", AV_CODEC_ID_FLV1, AV_CODEC_ID_MP3},
      {"mp4", "mp4", AV_CODEC_ID_H264, AV_CODEC_ID_AAC},
      {"mp3", "mp3", AV_CODEC_ID_NONE, AV_CODEC_ID_MP3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    TempFolder temp;
    Converter converter(temp);
    std::vector<std::string> arguments = {"-f", c.format, "-o", temp.File("out")};
    for (const std::string& source : kThreeSources) arguments.push_back(Fixture(source));
    const RunResult result = converter.Run(arguments);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(result.Shows("3 files: 3 converted, 0 failed, 0 stopped")) << result.output;

    for (const std::string& source : kThreeSources) {
      const std::string output = temp.File("out/" + BaseOf(source) + "_(new)." + c.extension);
      EXPECT_TRUE(result.Shows("[" + std::to_string(&source - kThreeSources.data() + 1) + "/3] done " +
                               Fixture(source) + " -> " + output))
          << result.output;
      int error = 0;
      auto media = OpenMedia(output, &error);
      ASSERT_TRUE(media) << output << ": " << error;
      const int video = FirstStream(media.get(), AVMEDIA_TYPE_VIDEO);
      const int audio = FirstStream(media.get(), AVMEDIA_TYPE_AUDIO);
      ASSERT_GE(audio, 0) << output;
      EXPECT_EQ(media->streams[audio]->codecpar->codec_id, c.audio) << output;
      if (c.video == AV_CODEC_ID_NONE) {
        EXPECT_LT(video, 0) << output;
      } else {
        ASSERT_GE(video, 0) << output;
        EXPECT_EQ(media->streams[video]->codecpar->codec_id, c.video) << output;
        VideoReader reader(media.get(), video);
        fixtures_test::DecodedPicture picture;
        int pictures = 0;
        double luma = 0;
        while (reader.Next(picture)) {
          ++pictures;
          luma += picture.meanLuma;
        }
        EXPECT_GE(pictures, 60) << output;
        EXPECT_GT(luma / std::max(pictures, 1), 20) << output << ": pictures are not black";
      }
      auto again = OpenMedia(output);
      const fixtures_test::DecodedAudio sound = DecodeAudio(again.get(), audio);
      EXPECT_NEAR(sound.Seconds(), 3.0, 0.3) << output;
      EXPECT_GT(sound.Rms(), 0.05) << output << ": audio is not silent";
    }
  }
}

TEST(CliConvertTest, ADamagedFileFailsWithItsMessageWhileTheOthersConvert) {
  TempFolder temp;
  Converter converter(temp);
  const RunResult result =
      converter.Run(Args({"-f", "flv", "-o", temp.File("out"), Fixture("avi_mpeg4_mp3.avi"),
                          Fixture("garbage.avi"), Fixture("tone.wav")}));
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_TRUE(result.Shows("[2/3] failed " + Fixture("garbage.avi") + ": Unknown format")) << result.output;
  EXPECT_TRUE(result.Shows("[1/3] done ")) << result.output;
  EXPECT_TRUE(result.Shows("[3/3] done ")) << result.output;
  EXPECT_TRUE(result.Shows("3 files: 2 converted, 1 failed, 0 stopped")) << result.output;
  EXPECT_EQ(FilesIn(temp.File("out")),
            (std::vector<std::string>{"avi_mpeg4_mp3_(new).flv", "tone_(new).flv"}));
}

TEST(CliConvertTest, AMissingFileFailsAndAFileNamedTwiceConvertsOnce) {
  TempFolder temp;
  Converter converter(temp);
  const RunResult result = converter.Run(Args({"-q", "-f", "mp3", "-o", temp.File("out"), Fixture("tone.wav"),
                                               temp.File("gone.wav"), Fixture("tone.wav")}));
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_TRUE(result.Shows("[2/3] failed " + temp.File("gone.wav") + ": no such file or directory"))
      << result.output;
  EXPECT_FALSE(result.Shows("done")) << "quiet prints failures only: " << result.output;
  EXPECT_EQ(FilesIn(temp.File("out")), (std::vector<std::string>{"tone_(new).mp3"}));
}

TEST(CliConvertTest, TrimAndCropShapeTheOutput) {
  // The fixture: 3 s of 320x240.
  TempFolder temp;
  Converter converter(temp);
  const RunResult result = converter.Run(Args({"-f", "mp4", "-o", temp.File("out"), "--trim", "1,1.5",
                                               "--crop", "20,40,60,40", Fixture("mp4_h264_aac.mp4")}));
  ASSERT_EQ(result.status, 0) << result.output;
  auto media = OpenMedia(temp.File("out/mp4_h264_aac_(new).mp4"));
  ASSERT_TRUE(media);
  const int video = FirstStream(media.get(), AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(video, 0);
  const AVCodecParameters* picture = media->streams[video]->codecpar;
  EXPECT_EQ(picture->width, 320 - 60 - 40);
  EXPECT_EQ(picture->height, 240 - 20 - 40);
  // The cut picture keeps square pixels instead of being stretched back.
  const AVRational aspect = media->streams[video]->sample_aspect_ratio;
  EXPECT_TRUE(aspect.num == 0 || aspect.num == aspect.den) << aspect.num << ":" << aspect.den;
  EXPECT_NEAR(media->duration / 1e6, 1.5, 0.25);

  // The trim start in HH:MM:SS, to the end: 2 s remain.
  const RunResult rest = converter.Run(
      Args({"-f", "mp3", "-o", temp.File("out"), "--trim", "00:00:01", Fixture("mp4_h264_aac.mp4")}));
  ASSERT_EQ(rest.status, 0) << rest.output;
  auto audio = OpenMedia(temp.File("out/mp4_h264_aac_(new).mp3"));
  ASSERT_TRUE(audio);
  EXPECT_NEAR(DecodeAudio(audio.get(), FirstStream(audio.get(), AVMEDIA_TYPE_AUDIO)).Seconds(), 2.0, 0.25);
}

TEST(CliConvertTest, TwoJobsAtOnceGiveTheSameFilesAsOne) {
  for (const char* format : {"mp4", "flv"}) {
    SCOPED_TRACE(format);
    TempFolder temp;
    Converter converter(temp);
    std::vector<std::string> outputs[2];
    for (int jobs : {1, 2}) {
      const std::string folder = temp.File("jobs" + std::to_string(jobs));
      std::vector<std::string> arguments = {"-f", format, "-j", std::to_string(jobs), "-o", folder};
      for (const std::string& source : kThreeSources) arguments.push_back(Fixture(source));
      const RunResult result = converter.Run(arguments);
      ASSERT_EQ(result.status, 0) << result.output;
      for (const std::string& name : FilesIn(folder))
        outputs[jobs - 1].push_back(ReadBytes(folder + "/" + name));
    }
    ASSERT_EQ(outputs[0].size(), 3u);
    ASSERT_EQ(outputs[1].size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(outputs[0][i] == outputs[1][i]) << "file " << i << " differs";
  }
}

TEST(CliConvertTest, CtrlCStopsTheBatchCleanly) {
  TempFolder temp;
  // Long enough that the first file is still converting when the signal
  // arrives.
  fixtures::MediaSpec recipe;
  recipe.muxer = "avi";
  recipe.videoCodec = "mpeg4";
  recipe.audioCodec = "libmp3lame";
  recipe.width = 320;
  recipe.height = 240;
  recipe.seconds = 40;
  const std::string longFile = temp.File("long.avi");
  std::string error;
  ASSERT_TRUE(fixtures::WriteMedia(longFile, recipe, &error)) << error;

  Converter converter(temp);
  converter.Start(Args(
      {"-f", "mp4", "-o", temp.File("out"), longFile, Fixture("avi_mpeg4_mp3.avi"), Fixture("tone.wav")}));
  std::string seen, line;
  while (converter.ReadLine(line)) {
    seen += line + "\n";
    if (line.find("converting " + longFile) != std::string::npos) break;
  }
  converter.Signal(SIGINT);
  const RunResult result = converter.Finish(seen);

  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_TRUE(result.Shows("interrupted: stopping")) << result.output;
  EXPECT_TRUE(result.Shows("[2/3] stopped")) << result.output;
  EXPECT_TRUE(result.Shows("[3/3] stopped")) << result.output;
  EXPECT_TRUE(result.Shows("(interrupted)")) << result.output;
  // The files that never started leave nothing behind; what was written
  // has its trailer (an MP4 without one does not open).
  for (const std::string& name : FilesIn(temp.File("out"))) {
    EXPECT_EQ(name, "long_(new).mp4");
    EXPECT_GT(fs::file_size(temp.File("out/" + name)), 0u);
    EXPECT_TRUE(OpenMedia(temp.File("out/" + name))) << "the stopped file's trailer is written";
  }
}

TEST(CliConvertTest, TheStoredFormatAndFolderAreTheDefaults) {
  TempFolder temp;
  Converter converter(temp);
  const std::string settings = "[settings]\nOutPutFormat=16\nOutPutDir=" + temp.File("stored") + "\n";
  // The user's settings file, where the windows keep it.
  const std::string userFile =
      converter.Home() + "/.config/tovrinflvvideoconverter/tovrinflvvideoconverter.ini";
  fs::create_directories(fs::path(userFile).parent_path());
  std::ofstream(userFile) << settings;
  RunResult result = converter.Run(Args({Fixture("tone.wav")}));
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(FilesIn(temp.File("stored")), (std::vector<std::string>{"tone_(new).mp3"}));

  // --settings names another file; the user's file is read no more.
  std::ofstream(temp.File("other.ini"))
      << "[settings]\nOutPutFormat=10\nOutPutDir=" + temp.File("other") + "\n";
  result = converter.Run(Args({"--settings", temp.File("other.ini"), Fixture("tone.mp3")}));
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(FilesIn(temp.File("other")), (std::vector<std::string>{"tone_(new).wav"}));
  EXPECT_EQ(ReadBytes(userFile), settings) << "the settings are read, never written";
}

TEST(CliConvertTest, ListsTheFormats) {
  TempFolder temp;
  Converter converter(temp);
  const RunResult result = converter.Run(Args({"--list-formats"}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 18);
  EXPECT_TRUE(result.Shows(" 0  flv        FLV flash video format (*.flv)\n")) << result.output;
  EXPECT_TRUE(result.Shows(" 2  3gp-h263")) << result.output;
  EXPECT_TRUE(result.Shows("17  aac ")) << result.output;
}

TEST(CliConvertTest, UsageErrorsExitWithTwoAndConvertNothing) {
  TempFolder temp;
  Converter converter(temp);
  const std::string file = Fixture("tone.wav");
  const std::string out = temp.File("out");
  const std::vector<std::string> cases[] = {
      {"-f", "ogg", "-o", out, file},
      {"-f", "18", "-o", out, file},
      {"--crop", "2,2,3,2", "-o", out, file},
      {"--crop", "2,2,2", "-o", out, file},
      {"--trim", "soon", "-o", out, file},
      {"--trim", "1,0", "-o", out, file},
      {"--trim", "1:75", "-o", out, file},
      {"--jobs", "0", "-o", out, file},
      {"-o", out},
      {"-o"},
      {"--settings", temp.File("missing.ini"), "-o", out, file},
  };
  for (const std::vector<std::string>& arguments : cases) {
    const RunResult result = converter.Run(arguments);
    EXPECT_EQ(result.status, 2) << testing::PrintToString(arguments) << "\n" << result.output;
    EXPECT_TRUE(result.Shows("tovrin-convert: ")) << result.output;
  }
  EXPECT_TRUE(FilesIn(out).empty());
}

}  // namespace
