// Measures what the converter's codec threads bring: the same conversions of a
// generated 1280x720 H.264 + AAC file run through the converter component
// (one job, thread mode 1) with each CodecThreads value given, 1 being the
// single-threaded codecs of old and 0 the library's choice for the machine.
//
// Usage: bench_converter [--media FOLDER] [--seconds 20] [--threads 1,0]
//   The generated input is kept in FOLDER (default "bench-media") and reused.
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/component/ZERIConverter.h"
#include "BenchMedia.h"
#include "tests/fixtures/FixtureGenerator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mediaFolder = "bench-media";
  int seconds = 20;
  std::vector<int> threads{1, 0};
};

std::vector<int> ParseList(const char* text) {
  std::vector<int> values;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');) values.push_back(std::atoi(item.c_str()));
  return values;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--media" && i + 1 < argc) {
      options.mediaFolder = argv[++i];
    } else if (name == "--seconds" && i + 1 < argc) {
      options.seconds = std::atoi(argv[++i]);
    } else if (name == "--threads" && i + 1 < argc) {
      options.threads = ParseList(argv[++i]);
    } else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return options;
}


double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Conversion {
  const char* name;
  const char* extension;
  const char* muxer;
  const char* videoCodec;
  const char* audioCodec;
};

struct Result {
  bool finished = false;
  std::string message;
  int frames = 0;
  double wallSeconds = 0;
  double processorSeconds = 0;
};

// One job through the converter, as the application runs it.
Result Convert(const std::string& input, const std::string& output, const Conversion& conversion,
               int codecThreads) {
  DIZAVUrevadado converter;
  if (!converter.LoadAVLib("", true)) {
    std::fprintf(stderr, "%s\n", converter.LastErrMsg().c_str());
    std::exit(1);
  }
  converter.SetLogLevel(llError);
  converter.SetCodecThreads(codecThreads);

  std::mutex lock;
  std::condition_variable ended;
  bool batchEnded = false;
  Result result;
  converter.OnProgress = [&](int, int frameNumber, int, int, float, float, int64_t, int) {
    std::lock_guard<std::mutex> guard(lock);
    result.frames = frameNumber;
  };
  converter.OnTerminate = [&](int index, bool finished, bool, const std::string& message) {
    std::lock_guard<std::mutex> guard(lock);
    if (index >= 0) {
      result.finished = finished;
      result.message = message;
    } else {
      batchEnded = true;
      ended.notify_all();
    }
  };

  TInputOptions in;
  const int index = converter.AddInputFile(input, &in);
  TOutputOptions out;
  out.FileFormat = conversion.muxer;
  out.VideoCodec = conversion.videoCodec;
  out.AudioCodec = conversion.audioCodec;
  out.VideoBitrate = 2000000;
  if (index < 0 || !converter.AddOutputFile(index, output, &out)) {
    std::fprintf(stderr, "cannot add the job: %s\n", converter.LastErrMsg().c_str());
    std::exit(1);
  }

  const double processorStart = ProcessorSeconds();
  const Clock::time_point start = Clock::now();
  converter.StartConvert(1);
  {
    std::unique_lock<std::mutex> guard(lock);
    ended.wait(guard, [&] { return batchEnded; });
  }
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.processorSeconds = ProcessorSeconds() - processorStart;
  converter.ClearEventHandlers();
  converter.ClearJobs();
  std::filesystem::remove(output);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const std::string input = HdBenchFile(options.mediaFolder, options.seconds);
  const Conversion conversions[] = {
      {"MP4 H.264 + AAC", "mp4", "mp4", "libx264", "aac"},
      {"AVI MPEG-4 + MP3", "avi", "avi", "mpeg4", "libmp3lame"},
  };
  std::printf("input: %s (1280x720, %d s), %u processors\n", input.c_str(), options.seconds,
              std::thread::hardware_concurrency());
  std::printf("%-18s %8s %8s %9s %8s %8s\n", "conversion", "threads", "wall s", "cpu s", "fps", "speedup");
  for (const Conversion& conversion : conversions) {
    double firstWall = 0;
    for (int threads : options.threads) {
      const std::string output = options.mediaFolder + "/converter_bench_out." + conversion.extension;
      const Result result = Convert(input, output, conversion, threads);
      if (!result.finished) {
        std::fprintf(stderr, "%s with %d threads failed: %s\n", conversion.name, threads,
                     result.message.c_str());
        return 1;
      }
      if (firstWall == 0) firstWall = result.wallSeconds;
      std::printf("%-18s %8s %8.2f %9.2f %8.1f %7.2fx\n", conversion.name,
                  threads == 0 ? "auto" : std::to_string(threads).c_str(), result.wallSeconds,
                  result.processorSeconds, result.frames / result.wallSeconds,
                  firstWall / result.wallSeconds);
      std::fflush(stdout);
    }
  }
  return 0;
}
