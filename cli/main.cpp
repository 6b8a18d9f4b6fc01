// tovrin-convert: the headless front end.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/ProgramFolder.h"
#include "engine/probe/AVProbe.h"

namespace {

void PrintUsage(FILE* out) {
  std::fputs(
      "Usage: tovrin-convert --info FILE...\n"
      "  --info     print each file's information text and exit\n"
      "  -h, --help show this help\n",
      out);
}

// Prints the information text of each file; 1 when any file did not open.
int PrintInfo(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& file : files) {
    TAVProbe probe;
    if (!probe.OpenFile(file)) {
      std::fprintf(stderr, "%s\n", probe.LastError().c_str());
      status = 1;
      continue;
    }
    std::string text = probe.GetInfoText();
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    std::fputs(text.c_str(), stdout);
    std::fputs("\n", stdout);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  bool info = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--info") {
      info = true;
    } else if (arg == "-h" || arg == "--help") {
      PrintUsage(stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "tovrin-convert: unknown option %s\n", arg.c_str());
      PrintUsage(stderr);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (!info || files.empty()) {
    PrintUsage(stderr);
    return 2;
  }
  if (!LoadMediaLibraries(BundledLibraryFolder(), true)) {
    std::fprintf(stderr, "%s\n", MediaLibrariesError().c_str());
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  return PrintInfo(files);
}
