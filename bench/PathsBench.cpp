// Measures the conversion of a generated 1280x720 H.264 + AAC file (25 fps,
// 60 s by default) to 640x480 into the container and codecs of each of the
// converter's eighteen formats: frames per second, processor time, peak
// memory, and the share of the run's wall time spent outside the codecs'
// decode and encode calls (which the session times when asked).
//
// Every conversion runs in a fresh process, so its peak memory is its own.
//
// Usage: bench_paths [--media FOLDER] [--seconds N] [--only NAME[,NAME...]]
//   The input is generated once into FOLDER (default "bench-media", shared
//   with bench_transcode) and reused.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"
#include "BenchMedia.h"
#include "tests/fixtures/FixtureGenerator.h"

namespace {

using Clock = std::chrono::steady_clock;
using Options = std::vector<std::pair<std::string, std::string>>;

struct Pair {
  const char* name;
  const char* file;
  Options options;
};

// The formats with their profiles' default rates and channels, at 640x480
// (H.263 knows a few sizes only: 704x576, the one the converter picks above
// 352x288).
std::vector<Pair> Pairs() {
  const Options vga{{"s", "640x480"}};
  auto with = [&](Options options, bool video = true) {
    if (video) options.insert(options.begin(), vga.begin(), vga.end());
    return options;
  };
  return {
      {"FLV flv1+mp3", "out.flv",
       with({{"f", "flv"},
             {"r", "25"},
             {"b", "400000"},
             {"acodec", "libmp3lame"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "96000"}})},
      {"SWF flv1+mp3", "out.swf",
       with({{"r", "25"},
             {"b", "400000"},
             {"acodec", "libmp3lame"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "96000"}})},
      {"3GP h263+amr_nb",
       "out.3gp",
       {{"f", "3gp"},
        {"s", "704x576"},
        {"vcodec", "h263"},
        {"r", "15"},
        {"b", "128000"},
        {"acodec", "libopencore_amrnb"},
        {"ar", "8000"},
        {"ac", "1"},
        {"ab", "12200"}}},
      {"3GP mpeg4+aac", "out.3gp",
       with({{"f", "3gp"},
             {"vcodec", "mpeg4"},
             {"r", "15"},
             {"b", "128000"},
             {"acodec", "aac"},
             {"ar", "8000"},
             {"ac", "1"},
             {"ab", "12200"}})},
      {"3G2 h263+aac",
       "out.3g2",
       {{"f", "3g2"},
        {"s", "704x576"},
        {"vcodec", "h263"},
        {"r", "15"},
        {"b", "128000"},
        {"acodec", "aac"},
        {"ar", "8000"},
        {"ac", "1"},
        {"ab", "12200"}}},
      {"3G2 mpeg4+amr_nb", "out.3g2",
       with({{"f", "3g2"},
             {"vcodec", "mpeg4"},
             {"r", "15"},
             {"b", "128000"},
             {"acodec", "libopencore_amrnb"},
             {"ar", "8000"},
             {"ac", "1"},
             {"ab", "12200"}})},
      {"AVI mpeg4(DIVX)+mp3", "out.avi",
       with({{"f", "avi"},
             {"vcodec", "mpeg4"},
             {"vtag", "DIVX"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "libmp3lame"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"MOV mpeg4+aac", "out.mov",
       with({{"f", "mov"},
             {"vcodec", "mpeg4"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "aac"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"MPG mpeg1video+mp2", "out.mpg",
       with({{"vcodec", "mpeg1video"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "mp2"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"MP4 h264+aac", "out.mp4",
       with({{"vcodec", "libx264"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "aac"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"WAV pcm_s16le", "out.wav", {{"vn", ""}, {"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "2"}}},
      {"WMA(ASF) wmav2",
       "out.wma",
       {{"vn", ""}, {"acodec", "wmav2"}, {"ar", "44100"}, {"ac", "2"}, {"ab", "128000"}}},
      {"WMV wmv2+wmav2", "out.wmv",
       with({{"vcodec", "wmv2"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "wmav2"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"AVI xvid+mp3", "out.avi",
       with({{"f", "avi"},
             {"vcodec", "libxvid"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "libmp3lame"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"M4A aac",
       "out.m4a",
       {{"f", "ipod"}, {"vn", ""}, {"acodec", "aac"}, {"ar", "44100"}, {"ac", "2"}, {"ab", "128000"}}},
      {"M4V mpeg4+aac", "out.m4v",
       with({{"f", "ipod"},
             {"vcodec", "mpeg4"},
             {"r", "25"},
             {"b", "1200000"},
             {"acodec", "aac"},
             {"ar", "44100"},
             {"ac", "2"},
             {"ab", "128000"}})},
      {"MP3 mp3",
       "out.mp3",
       {{"vn", ""}, {"acodec", "libmp3lame"}, {"ar", "44100"}, {"ac", "2"}, {"ab", "128000"}}},
      {"AAC(ADTS) aac",
       "out.aac",
       {{"vn", ""}, {"acodec", "aac"}, {"ar", "44100"}, {"ac", "2"}, {"ab", "128000"}}},
  };
}

struct Settings {
  std::string mediaFolder = "bench-media";
  int seconds = 60;
  std::vector<std::string> only;
};

Settings ParseSettings(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--media" && i + 1 < argc) {
      settings.mediaFolder = argv[++i];
    } else if (name == "--seconds" && i + 1 < argc) {
      settings.seconds = std::atoi(argv[++i]);
    } else if (name == "--only" && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) settings.only.push_back(item);
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return settings;
}


// What the child process reports back.
struct RunResult {
  bool ok = false;
  double wallSeconds = 0;
  double codecSeconds = 0;
  int frames = 0;  // pictures encoded; 0 for audio only
  char failure[200] = {0};
};

RunResult Convert(const std::string& input, const std::string& output, const Options& options) {
  RunResult result;
  TCustomFFmpeg session;
  session.InitSession();
  session.MeasureCodecTime = true;
  session.ProgressHandler = [&](TCustomFFmpeg&, int frameNumber, int, int, float, float, int64_t, int) {
    if (frameNumber > result.frames) result.frames = frameNumber;
  };
  try {
    if (!session.OpenInputFile(input)) throw FFMpegException(session.LastError);
    for (const auto& [name, value] : options) session.ParseOption(name, value);
    if (!session.OpenOutputFile(output)) throw FFMpegException(session.LastError);
    const Clock::time_point start = Clock::now();
    session.RunTranscode();
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.codecSeconds = static_cast<double>(session.CodecTimeNs) / 1e9;
    result.ok = true;
  } catch (const std::exception& e) {
    std::snprintf(result.failure, sizeof result.failure, "%s", e.what());
  }
  session.CloseOpenEncoders();
  session.CloseOpenDecoders();
  session.ReleaseSession();
  return result;
}

double Seconds(const timeval& value) {
  return static_cast<double>(value.tv_sec) + value.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const Settings settings = ParseSettings(argc, argv);
  if (!LoadMediaLibraries("", true)) {
    std::fprintf(stderr, "media libraries not loaded\n");
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  const std::string input = HdBenchFile(settings.mediaFolder, settings.seconds);
  const std::string outFolder = settings.mediaFolder + "/paths-out";
  std::filesystem::create_directories(outFolder);

  std::printf(
      "%d s of 1280x720 25 fps H.264 + AAC 44100 Hz stereo to 640x480; codecs with the library's thread "
      "count\n",
      settings.seconds);
  std::printf("%-22s %7s %8s %8s %8s %9s %9s %9s\n", "format", "frames", "wall s", "fps", "CPU s", "peak MB",
              "codec s", "outside");
  for (const Pair& pair : Pairs()) {
    if (!settings.only.empty()) {
      bool wanted = false;
      for (const std::string& name : settings.only) wanted |= std::strstr(pair.name, name.c_str()) != nullptr;
      if (!wanted) continue;
    }
    int channel[2];
    if (pipe(channel) != 0) return 1;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      const RunResult result = Convert(input, outFolder + "/" + pair.file, pair.options);
      const ssize_t written = write(channel[1], &result, sizeof result);
      _exit(written == sizeof result ? 0 : 1);
    }
    close(channel[1]);
    RunResult result;
    const ssize_t got = read(channel[0], &result, sizeof result);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (got != sizeof result || !result.ok) {
      std::printf("%-22s failed: %s\n", pair.name, got == sizeof result ? result.failure : "no report");
      continue;
    }
    const double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    const double outside = 100.0 * (result.wallSeconds - result.codecSeconds) / result.wallSeconds;
    if (result.frames > 0) {
      std::printf("%-22s %7d %8.2f %8.1f %8.2f %9.1f %9.2f %8.1f%%\n", pair.name, result.frames,
                  result.wallSeconds, result.frames / result.wallSeconds, cpu, usage.ru_maxrss / 1024.0,
                  result.codecSeconds, outside);
    } else {
      std::printf("%-22s %7s %8.2f %7.0fx %8.2f %9.1f %9.2f %8.1f%%\n", pair.name, "audio",
                  result.wallSeconds, settings.seconds / result.wallSeconds, cpu, usage.ru_maxrss / 1024.0,
                  result.codecSeconds, outside);
    }
  }
  return 0;
}
