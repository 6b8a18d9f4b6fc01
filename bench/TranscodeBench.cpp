// Measures whole runs of the transcode: stream copy of a generated 1280x720
// H.264 + AAC file of two lengths into MKV and MP4 (wall time, processor
// time, peak memory), and one decoding and encoding run for comparison. Each
// run happens in a fresh process, so its peak memory is its own: the peak of
// a stream copy must not grow with the length of the file.
//
// Usage: bench_transcode [--media FOLDER] [--lengths 60,240] [--no-encode]
//   Generated files are kept in FOLDER (default "bench-media") and reused.
//   The peak memory of a run starts from what was resident when the run
//   began (the libraries, the open input and output).
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

#include "engine/binding/MediaLibraries.h"
#include "engine/session/CustomFFmpeg.h"
#include "BenchMedia.h"
#include "tests/fixtures/FixtureGenerator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mediaFolder = "bench-media";
  std::vector<int> lengths{60, 240};
  bool encode = true;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--no-encode") {
      options.encode = false;
    } else if (name == "--media" && i + 1 < argc) {
      options.mediaFolder = argv[++i];
    } else if (name == "--lengths" && i + 1 < argc) {
      options.lengths.clear();
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) options.lengths.push_back(std::atoi(item.c_str()));
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return options;
}


double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Resident memory now, in kilobytes (VmRSS of /proc/self/status).
long ResidentKilobytes() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kilobytes = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1) break;
  std::fclose(status);
  return kilobytes;
}

// Starts the peak over from the current resident size, so that the peak read
// after the run is the run's own (Linux: "5" to clear_refs resets VmHWM).
void ResetPeak() {
  if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", clear);
    std::fclose(clear);
  }
}

// One run in this process: input, output and options as the converter would
// give them; prints one line of figures.
int RunOnce(const std::string& label, const std::string& input, const std::string& output,
            const std::vector<std::pair<std::string, std::string>>& options) {
  if (!LoadMediaLibraries("", true)) {
    std::fprintf(stderr, "%s\n", MediaLibrariesError().c_str());
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  TCustomFFmpeg session;
  session.InitSession();
  if (!session.OpenInputFile(input)) {
    std::fprintf(stderr, "%s\n", session.LastError.c_str());
    return 1;
  }
  for (const auto& [name, value] : options) session.ParseOption(name, value);
  if (!session.OpenOutputFile(output)) {
    std::fprintf(stderr, "%s\n", session.LastError.c_str());
    return 1;
  }
  ResetPeak();
  const long baseKilobytes = ResidentKilobytes();
  int frames = 0;
  session.ProgressHandler = [&frames](TCustomFFmpeg&, int frameNumber, int, int, float, float, int64_t, int) {
    frames = frameNumber;
  };
  const double cpuStart = CpuSeconds();
  const Clock::time_point start = Clock::now();
  try {
    session.RunTranscode();
  } catch (const FFMpegException& e) {
    std::fprintf(stderr, "%s: %s\n", label.c_str(), e.what());
    return 1;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = CpuSeconds() - cpuStart;
  session.CloseOpenEncoders();
  session.CloseOpenDecoders();
  session.ReleaseSession();
  const double megabytes = static_cast<double>(std::filesystem::file_size(output)) / 1e6;
  std::printf("  %-28s wall %7.2f s  processor %7.2f s  %6d frames (%7.0f frames/s)  peak RSS %6.1f MB"
              " (%.1f MB resident when it began)  output %.1f MB\n",
              label.c_str(), wall, cpu, frames, frames / wall, PeakKilobytes() / 1024.0, baseKilobytes / 1024.0,
              megabytes);
  std::fflush(stdout);
  std::filesystem::remove(output);
  return 0;
}

// Runs RunOnce in a fresh process (this program with --run), so that the
// figures of one run do not include another's.
void RunInChild(const std::string& label, const std::string& input, const std::string& output,
                const std::vector<std::pair<std::string, std::string>>& options) {
  std::vector<std::string> arguments = {"bench_transcode", "--run", label, input, output};
  for (const auto& [name, value] : options) {
    arguments.push_back(name);
    arguments.push_back(value);
  }
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "  %s failed\n", label.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "--run") {
    std::vector<std::pair<std::string, std::string>> options;
    for (int i = 5; i + 1 < argc; i += 2) options.emplace_back(argv[i], argv[i + 1]);
    return RunOnce(argv[2], argv[3], argv[4], options);
  }
  const Options options = ParseOptions(argc, argv);
  if (!LoadMediaLibraries("", true)) {
    std::fprintf(stderr, "%s\n", MediaLibrariesError().c_str());
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  std::vector<std::string> files;
  for (int seconds : options.lengths) files.push_back(HdBenchFile(options.mediaFolder, seconds));
  const std::string out = options.mediaFolder + "/out";

  std::printf("stream copy of 1280x720 H.264 + AAC (25 fps, key frame every 250, B-frames):\n");
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string length = std::to_string(options.lengths[i]) + " s";
    RunInChild("copy " + length + " -> mkv", files[i], out + ".mkv", {{"vcodec", "copy"}, {"acodec", "copy"}});
    RunInChild("copy " + length + " -> mp4", files[i], out + ".mp4", {{"vcodec", "copy"}, {"acodec", "copy"}});
  }
  if (options.encode && !files.empty()) {
    std::printf("decode, scale to 320x240, encode (FLV: flv1 + MP3 22050 Hz):\n");
    RunInChild("encode " + std::to_string(options.lengths[0]) + " s -> flv", files[0], out + ".flv",
               {{"s", "320x240"}, {"ar", "22050"}, {"b", "500000"}});
  }
  return 0;
}
