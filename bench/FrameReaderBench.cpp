// Measures the probe's frame reader the way the preview and the trim and crop
// dialogs use it: seek-and-decode latency to random positions (median, 90th
// percentile, worst) and frames per second when playing forward, on a
// generated 1280x720 H.264 file with a key frame every 250 frames.
//
// Usage: bench_frame_reader [--seeks N] [--frames N] [--threads LIST] [--media FOLDER]
//   --threads takes a comma-separated list of decoder thread counts to compare
//   (0 = the library chooses); default "1,0". The settings are measured in
//   turns, position by position, so that a busy machine weighs on all alike.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
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
  fixtures::MediaSpec recipe;
  recipe.muxer = "mp4";
  recipe.videoCodec = "libx264";
  recipe.width = 1280;
  recipe.height = 720;
  recipe.frameRate = AVRational{kFrameRate, 1};
  recipe.gopSize = 250;
  recipe.maxBFrames = 2;
  recipe.seconds = kSeconds;
  std::printf("generating %s ...\n", path.c_str());
  const Clock::time_point start = Clock::now();
  std::string error;
  if (!fixtures::WriteMedia(path, recipe, &error)) {
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

// One reader per decoder thread count, with what was measured on it.
struct Reader {
  int threads = 0;
  std::unique_ptr<TAVProbe> probe;
  std::vector<double> latencies;
  double cpu = 0;
  int wrong = 0;
};

std::vector<Reader> OpenReaders(const std::string& path, const std::vector<int>& threadCounts) {
  std::vector<Reader> readers;
  for (int threads : threadCounts) {
    Reader reader;
    reader.threads = threads;
    reader.probe = std::make_unique<TAVProbe>();
    reader.probe->SetDecoderThreads(threads);
    if (!reader.probe->OpenFile(path)) {
      std::fprintf(stderr, "%s\n", reader.probe->LastError().c_str());
      std::exit(1);
    }
    reader.probe->DecodeFrame(-1);  // opens the decoder, as the preview's first picture does
    readers.push_back(std::move(reader));
  }
  return readers;
}

const char* ThreadsText(int threads) {
  static char text[32];
  if (threads == 0) return "library's choice";
  std::snprintf(text, sizeof text, "%d", threads);
  return text;
}

// The readers take turns, position by position, so that other work on the
// machine weighs on every setting alike.
void BenchSeeks(const std::string& path, const std::vector<int>& threadCounts, int seeks) {
  std::vector<Reader> readers = OpenReaders(path, threadCounts);
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> frameOf(0, kFrameCount - 1);
  for (int i = 0; i < seeks; ++i) {
    const int frame = frameOf(random);
    const int64_t position = static_cast<int64_t>(frame) * 1000000 / kFrameRate;
    for (size_t turn = 0; turn < readers.size(); ++turn) {
      Reader& reader = readers[(i + turn) % readers.size()];
      const double cpuStart = CpuMilliseconds();
      const Clock::time_point start = Clock::now();
      reader.probe->SeekTo(-1, position);
      const TBitmap& picture = reader.probe->DecodeFrame(-1);
      reader.latencies.push_back(Milliseconds(Clock::now() - start));
      reader.cpu += CpuMilliseconds() - cpuStart;
      if (std::abs(Counter(picture) - frame) > 1) ++reader.wrong;
    }
  }
  std::printf("seek + decode at %d random positions:\n", seeks);
  for (const Reader& reader : readers) {
    double sum = 0;
    for (double latency : reader.latencies) sum += latency;
    std::printf("  decoder threads %-16s median %6.1f ms  p90 %6.1f ms  worst %6.1f ms  mean %6.1f ms"
                "  processor %6.1f ms per seek  (%d pictures off the target)\n",
                ThreadsText(reader.threads), Percentile(reader.latencies, 0.5), Percentile(reader.latencies, 0.9),
                Percentile(reader.latencies, 1.0), sum / seeks, reader.cpu / seeks, reader.wrong);
  }
}

// Plays from the start, the readers taking turns a second of pictures at a time.
void BenchPlayForward(const std::string& path, const std::vector<int>& threadCounts, int frames) {
  std::vector<Reader> readers = OpenReaders(path, threadCounts);
  std::vector<double> seconds(readers.size(), 0.0);
  for (Reader& reader : readers) reader.probe->SeekTo(-1, 0);
  frames = std::min(frames, kFrameCount);
  for (int first = 0; first < frames; first += kFrameRate) {
    const int count = std::min(kFrameRate, frames - first);
    for (size_t k = 0; k < readers.size(); ++k) {
      Reader& reader = readers[k];
      const double cpuStart = CpuMilliseconds();
      const Clock::time_point start = Clock::now();
      for (int n = 0; n < count; ++n)
        if (Counter(reader.probe->DecodeFrame(-1)) != first + n) ++reader.wrong;
      seconds[k] += std::chrono::duration<double>(Clock::now() - start).count();
      reader.cpu += CpuMilliseconds() - cpuStart;
    }
  }
  std::printf("play forward, %d pictures:\n", frames);
  for (size_t k = 0; k < readers.size(); ++k)
    std::printf("  decoder threads %-16s %6.1f pictures/s  processor %5.2f ms per picture  (%d out of order)\n",
                ThreadsText(readers[k].threads), frames / seconds[k], readers[k].cpu / frames, readers[k].wrong);
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
  std::printf("frame reader on %s: 1280x720 H.264, %d frames at %d fps, key frame every 250, B-frames allowed\n",
              path.c_str(), kFrameCount, kFrameRate);
  BenchSeeks(path, options.threads, options.seeks);
  BenchPlayForward(path, options.threads, options.frames);
  return 0;
}
