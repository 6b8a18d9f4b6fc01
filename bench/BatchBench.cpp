// Measures the command-line front end as a user runs it, per output format:
// files per minute for a batch of short files, frames per second for one
// long 1280x720 file, with the processor time and peak memory of each run,
// once per --jobs value.
//
// Usage: bench_batch [--media FOLDER] [--formats LIST] [--jobs LIST]
//                    [--files N] [--seconds N] [--no-batch] [--no-long]
//   FORMATS: short names or indexes (default: all eighteen); JOBS: default
//   1,2; N files of 3 s 320x240 MPEG-4 + MP3 (default 20); the long file is
//   N seconds of 1280x720 H.264 + AAC at 25 fps (default 60). Generated
//   files are kept in FOLDER (default "bench-media") and reused.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/FixtureGenerator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kFormats[] = {"flv",  "swf",  "3gp-h263", "3gp-mpeg4", "3g2-h263", "3g2-mpeg4",
                                "divx", "mov",  "mpg",      "mp4",       "wav",      "wma",
                                "wmv",  "xvid", "m4a",      "m4v",       "mp3",      "aac"};

struct Options {
  std::string mediaFolder = "bench-media";
  std::vector<std::string> formats{std::begin(kFormats), std::end(kFormats)};
  std::vector<int> jobs{1, 2};
  int files = 20;
  int seconds = 60;
  bool batch = true;
  bool longFile = true;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');) items.push_back(item);
  return items;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const bool hasValue = i + 1 < argc;
    if (name == "--media" && hasValue) {
      options.mediaFolder = argv[++i];
    } else if (name == "--formats" && hasValue) {
      options.formats = SplitList(argv[++i]);
    } else if (name == "--jobs" && hasValue) {
      options.jobs.clear();
      for (const std::string& item : SplitList(argv[++i])) options.jobs.push_back(std::atoi(item.c_str()));
    } else if (name == "--files" && hasValue) {
      options.files = std::atoi(argv[++i]);
    } else if (name == "--seconds" && hasValue) {
      options.seconds = std::atoi(argv[++i]);
    } else if (name == "--no-batch") {
      options.batch = false;
    } else if (name == "--no-long") {
      options.longFile = false;
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return options;
}

void Generate(const std::string& path, const fixtures::MediaSpec& recipe) {
  if (fs::exists(path)) return;
  std::printf("generating %s ...\n", path.c_str());
  std::fflush(stdout);
  std::string error;
  if (!fixtures::WriteMedia(path, recipe, &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
    std::exit(1);
  }
}

// count copies of a short file under distinct names (the batch skips a file
// named twice).
std::vector<std::string> ShortFiles(const std::string& folder, int count) {
  fixtures::MediaSpec recipe;
  recipe.muxer = "avi";
  recipe.videoCodec = "mpeg4";
  recipe.audioCodec = "libmp3lame";
  recipe.width = 320;
  recipe.height = 240;
  recipe.seconds = 3;
  const std::string original = folder + "/short_mpeg4_mp3_3s.avi";
  Generate(original, recipe);
  fs::create_directories(folder + "/batch");
  std::vector<std::string> files;
  for (int i = 1; i <= count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/batch/short_%02d.avi", i);
    const std::string copy = folder + name;
    if (!fs::exists(copy)) fs::copy_file(original, copy);
    files.push_back(copy);
  }
  return files;
}

// The transcode bench's input of the same length, shared through the folder.
std::string LongFile(const std::string& folder, int seconds) {
  fixtures::MediaSpec recipe;
  recipe.muxer = "mp4";
  recipe.videoCodec = "libx264";
  recipe.audioCodec = "aac";
  recipe.width = 1280;
  recipe.height = 720;
  recipe.gopSize = 250;
  recipe.maxBFrames = 2;
  recipe.seconds = seconds;
  const std::string path = folder + "/h264_aac_720p_" + std::to_string(seconds) + "s.mp4";
  Generate(path, recipe);
  return path;
}

struct RunResult {
  bool ok = false;
  int status = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system of the program and all its threads
  double peakMb = 0;      // peak resident size
};

// Runs tovrin-convert quietly as a user whose home lies in the media folder,
// so that only the shipped profiles' defaults apply.
RunResult RunConverter(const std::string& home, const std::vector<std::string>& arguments) {
  const std::string program = std::string(TOVRIN_PROGRAM_DIR) + "/tovrin-convert";
  const std::string homeVariable = "HOME=" + home;
  const std::string configVariable = "XDG_CONFIG_HOME=" + home + "/.config";
  RunResult result;
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>(homeVariable.c_str()), const_cast<char*>(configVariable.c_str()),
                    nullptr};
    execve(program.c_str(), argv.data(), envp);
    _exit(127);
  }
  int raw = 0;
  rusage usage{};
  wait4(pid, &raw, 0, &usage);
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.ok = result.status == 0;
  return result;
}

RunResult Convert(const Options& options, const std::string& format, int jobs,
                  const std::vector<std::string>& files) {
  const std::string out = options.mediaFolder + "/batch-out";
  const std::string home = options.mediaFolder + "/batch-home";
  fs::remove_all(out);
  fs::create_directories(home);
  std::vector<std::string> arguments = {"-q", "-f", format, "-j", std::to_string(jobs), "-o", out};
  arguments.insert(arguments.end(), files.begin(), files.end());
  const RunResult result = RunConverter(home, arguments);
  fs::remove_all(out);
  return result;
}

std::string Figure(const RunResult& run, double value, const char* format) {
  if (!run.ok) return "failed(" + std::to_string(run.status) + ")";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  fs::create_directories(options.mediaFolder);
  const std::vector<std::string> shortFiles =
      options.batch ? ShortFiles(options.mediaFolder, options.files) : std::vector<std::string>{};
  const std::string longFile = options.longFile ? LongFile(options.mediaFolder, options.seconds) : "";
  const double longFrames = options.seconds * 25.0;

  std::printf(
      "\nbatch: %d files of 3 s 320x240 MPEG-4 + MP3; long: %d s of 1280x720 H.264 + AAC (%g frames)\n",
      options.files, options.seconds, longFrames);
  std::printf("%-10s %4s | %10s %8s %8s | %8s %8s %8s\n", "format", "jobs", "files/min", "cpu s", "peak MB",
              "fps", "cpu s", "peak MB");
  for (const std::string& format : options.formats) {
    for (int jobs : options.jobs) {
      std::string batchPart = "         -        -        -";
      std::string longPart = "       -        -        -";
      if (options.batch) {
        const RunResult run = Convert(options, format, jobs, shortFiles);
        char text[96];
        std::snprintf(text, sizeof text, "%10s %8.1f %8.1f",
                      Figure(run, options.files * 60.0 / run.wallSeconds, "%.1f").c_str(), run.cpuSeconds,
                      run.peakMb);
        batchPart = text;
      }
      if (options.longFile) {
        const RunResult run = Convert(options, format, jobs, {longFile});
        char text[96];
        std::snprintf(text, sizeof text, "%8s %8.1f %8.1f",
                      Figure(run, longFrames / run.wallSeconds, "%.1f").c_str(), run.cpuSeconds, run.peakMb);
        longPart = text;
      }
      std::printf("%-10s %4d | %s | %s\n", format.c_str(), jobs, batchPart.c_str(), longPart.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
