// Measures the probe's frame reader the way the preview and the trim and crop
// dialogs use it: seek-and-decode latency to random positions (median, 90th
// percentile, worst) and frames per second when playing forward, on a
// generated 1280x720 H.264 file with a key frame every 250 frames.
//
// Usage: bench_frame_reader [--seeks N] [--frames N] [--threads LIST] [--media FOLDER]
//   --threads takes a comma-separated list of decoder thread counts to compare
//   (0 = the library chooses); default "1,0".
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/probe/AVProbe.h"
#include "tests/fixtures/FixtureGenerator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrameRate = 25;
constexpr double kSeconds = 20.0;
constexpr int kFrameCount = static_cast<int>(kSeconds * kFrameRate);

struct Options {
  int seeks = 200;
  int frames = 500;
  std::vector<int> threads{1, 0};
  std::string mediaFolder = "bench-media";
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--seeks") {
      options.seeks = std::atoi(value.c_str());
    } else if (name == "--frames") {
      options.frames = std::atoi(value.c_str());
    } else if (name == "--media") {
      options.mediaFolder = value;
    } else if (name == "--threads") {
      options.threads.clear();
      std::stringstream list(value);
      for (std::string item; std::getline(list, item, ',');) options.threads.push_back(std::atoi(item.c_str()));
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return options;
}

// The bench file, generated once and kept in the media folder.
std::string BenchFile(const std::string& folder) {
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/h264_720p_gop250.mp4";
  if (std::filesystem::exists(path)) return path;
  fixtures::MediaSpec spec;
  spec.muxer = "mp4";
  spec.videoCodec = "libx264";
  spec.width = 1280;
  spec.height = 720;
  spec.frameRate = AVRational{kFrameRate, 1};
  spec.gopSize = 250;
  spec.maxBFrames = 2;
  spec.seconds = kSeconds;
  std::printf("generating %s ...\n", path.c_str());
  const Clock::time_point start = Clock::now();
  std::string error;
  if (!fixtures::WriteMedia(path, spec, &error)) {
    std::fprintf(stderr, "cannot write the bench file: %s\n", error.c_str());
    std::exit(1);
  }
  std::printf("generated in %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
  return path;
}

// Processor time of the whole process (every thread), in milliseconds: less
// sensitive than wall time to other work on the machine.
double CpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

int Counter(const TBitmap& picture) {
  return fixtures::ReadFrameCounter(picture.Bits(), picture.Stride(), picture.Width(), picture.Height());
}

double Percentile(std::vector<double> sorted, double fraction) {
  std::sort(sorted.begin(), sorted.end());
  const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[index];
}

void BenchSeeks(const std::string& path, int threads, int seeks) {
  TAVProbe probe;
  probe.SetDecoderThreads(threads);
  if (!probe.OpenFile(path)) {
    std::fprintf(stderr, "%s\n", probe.LastError().c_str());
    std::exit(1);
  }
  probe.DecodeFrame(-1);  // opens the decoder, as the preview's first picture does

  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> frameOf(0, kFrameCount - 1);
  std::vector<double> latencies;
  int wrong = 0;
  const double cpuStart = CpuMilliseconds();
  for (int i = 0; i < seeks; ++i) {
    const int frame = frameOf(random);
    const int64_t position = static_cast<int64_t>(frame) * 1000000 / kFrameRate;
    const Clock::time_point start = Clock::now();
    probe.SeekTo(-1, position);
    const TBitmap& picture = probe.DecodeFrame(-1);
    latencies.push_back(Milliseconds(Clock::now() - start));
    if (std::abs(Counter(picture) - frame) > 1) ++wrong;
  }
  const double cpu = CpuMilliseconds() - cpuStart;
  double sum = 0;
  for (double latency : latencies) sum += latency;
  std::printf("  seek+decode, %d random positions: median %.1f ms, p90 %.1f ms, worst %.1f ms, mean %.1f ms,"
              " processor %.1f ms per seek (%d pictures off the target)\n",
              seeks, Percentile(latencies, 0.5), Percentile(latencies, 0.9), Percentile(latencies, 1.0),
              sum / static_cast<double>(seeks), cpu / seeks, wrong);
}

void BenchPlayForward(const std::string& path, int threads, int frames) {
  TAVProbe probe;
  probe.SetDecoderThreads(threads);
  if (!probe.OpenFile(path)) std::exit(1);
  probe.SeekTo(-1, 0);
  int decoded = 0;
  int expected = 0;
  int wrong = 0;
  const double cpuStart = CpuMilliseconds();
  const Clock::time_point start = Clock::now();
  for (; decoded < frames && decoded < kFrameCount; ++decoded) {
    const TBitmap& picture = probe.DecodeFrame(-1);
    if (Counter(picture) != expected++) ++wrong;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = CpuMilliseconds() - cpuStart;
  std::printf("  play forward: %d frames in %.2f s = %.1f frames/s, processor %.2f ms per frame (%d out of order)\n",
              decoded, seconds, decoded / seconds, cpu / decoded, wrong);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!LoadMediaLibraries("", true)) {
    std::fprintf(stderr, "%s\n", MediaLibrariesError().c_str());
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  const std::string path = BenchFile(options.mediaFolder);
  std::printf("frame reader on %s: 1280x720 H.264, %d frames at %d fps, key frame every 250, B-frames\n",
              path.c_str(), kFrameCount, kFrameRate);
  for (int threads : options.threads) {
    std::printf("decoder threads %d%s:\n", threads, threads == 0 ? " (library's choice)" : "");
    BenchSeeks(path, threads, options.seeks);
    BenchPlayForward(path, threads, options.frames);
  }
  return 0;
}
