#include "BenchMedia.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/fixtures/FixtureGenerator.h"

std::string HdBenchFile(const std::string& folder, int seconds) {
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/h264_aac_720p_" + std::to_string(seconds) + "s.mp4";
  if (std::filesystem::exists(path)) return path;
  fixtures::MediaSpec recipe;
  recipe.muxer = "mp4";
  recipe.videoCodec = "libx264";
  recipe.audioCodec = "aac";
  recipe.width = 1280;
  recipe.height = 720;
  recipe.gopSize = 250;
  recipe.maxBFrames = 2;
  recipe.seconds = seconds;
  std::printf("generating %s ...\n", path.c_str());
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  if (!fixtures::WriteMedia(path, recipe, &error)) {
    std::fprintf(stderr, "cannot write the bench file: %s\n", error.c_str());
    std::exit(1);
  }
  std::printf("generated in %.1f s, %.1f MB\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              static_cast<double>(std::filesystem::file_size(path)) / 1e6);
  return path;
}
