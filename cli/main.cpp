// tovrin-convert: the headless front end. It converts files with the same
// batch core, the same settings files and the same format profiles as the
// windows.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/Batch.h"
#include "app/FormatProfiles.h"
#include "app/GlobalUnit.h"
#include "app/Settings.h"
#include "cli/CliOptions.h"
#include "cli/CliView.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/ProgramFolder.h"
#include "engine/probe/AVProbe.h"

namespace {

constexpr const char* kProgram = "tovrin-convert";

// Written by the signal handler, read by the main loop.
volatile sig_atomic_t interrupted = 0;
// The main loop sleeps in poll() on the read end; job threads (through the
// batch's wake-up) and the signal handler write a byte to wake it.
int wakePipe[2] = {-1, -1};

void Wake() {
  const char byte = 0;
  // Non-blocking: a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = write(wakePipe[1], &byte, 1);
}

void OnInterrupt(int) {
  interrupted = 1;
  Wake();
}

bool MakeWakePipe() {
  if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C ends the program at once.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return true;
}

void EmptyWakePipe() {
  char bytes[256];
  while (read(wakePipe[0], bytes, sizeof bytes) > 0) {
  }
}

// Prints the information text of each file; 1 when any file did not open.
int PrintInfo(const std::vector<std::string>& files) {
  if (!LoadMediaLibraries(BundledLibraryFolder(), true)) {
    std::fprintf(stderr, "%s\n", MediaLibrariesError().c_str());
    return 1;
  }
  FF.av_log_set_level(AV_LOG_ERROR);
  int status = 0;
  for (const std::string& file : files) {
    TAVProbe probe;
    if (!probe.OpenFile(file)) {
      std::fprintf(stderr, "%s\n", probe.LastError().c_str());
      status = 1;
      continue;
    }
    std::fputs(WithLineFeeds(probe.GetInfoText()).c_str(), stdout);
    std::fputs("\n", stdout);
  }
  return status;
}

void ListFormats() {
  for (int i = 0; i < kFormatCount; ++i)
    std::printf("%2d  %-10s %s\n", i, FormatShortName(i), std::string(FormatText(i)).c_str());
}

bool IsReadableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), R_OK) == 0;
}

int Convert(const TCliOptions& options) {
  TGlobalObject& global = CreateGlobalObject(TAppPaths::FromEnvironment());
  if (!options.SettingsFile.empty()) {
    if (!IsReadableFile(options.SettingsFile)) {
      std::fprintf(stderr, "%s: --settings %s: not a readable file\n", kProgram,
                   options.SettingsFile.c_str());
      return 2;
    }
    global.SetMainIniFile(std::filesystem::absolute(options.SettingsFile).string());
  }

  const int formatIndex =
      options.FormatIndex ? *options.FormatIndex : ReadSettingInt(global, settings::OutPutFormat);
  if (formatIndex < 0 || formatIndex >= kFormatCount) {
    std::fprintf(stderr, "%s: the stored output format %d is not one of 0-17; choose one with -f\n", kProgram,
                 formatIndex);
    return 2;
  }
  if (!options.OutputFolder.empty()) {
    std::error_code failure;
    std::filesystem::create_directories(options.OutputFolder, failure);
    if (!std::filesystem::is_directory(options.OutputFolder)) {
      std::fprintf(stderr, "%s: cannot create the output folder %s%s%s\n", kProgram,
                   options.OutputFolder.c_str(), failure ? ": " : "",
                   failure ? failure.message().c_str() : "");
      return 1;
    }
  }
  if (!MakeWakePipe()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, std::strerror(errno));
    return 1;
  }

  // The converter outlives the batch, which takes its handlers off first.
  DIZAVUrevadado converter;
  TFileList list;
  TCliView view(list, static_cast<int>(options.Files.size()), options.Quiet, !options.Quiet && isatty(2));
  TBatchConverter batch(converter, list, global, view);
  batch.SetFormatIndex(formatIndex);
  batch.SetThreadMode(options.Jobs);
  // Nobody looks at the converted pictures here.
  batch.SetPictureHook(false);
  if (options.OutputFolder.empty()) {
    // The user's settings stay as they are; a broken stored folder is
    // replaced by the default folder for this run only.
    batch.Naming().SetStoreFallback(false);
  } else {
    batch.Naming().SetFolderOverride(options.OutputFolder);
  }
  batch.SetWakeUp(Wake);

  const std::vector<TAddResult> added = batch.AddFiles(options.Files);
  for (size_t place = 0; place < added.size(); ++place) {
    const TAddResult& result = added[place];
    if (result.Status == TAddResult::arLibraryError) {
      std::fprintf(stderr, "%s: %s\n", kProgram, result.Message.c_str());
      return 1;
    }
    if (result.Status != TAddResult::arAdded) view.AddFailed(static_cast<int>(place), result);
  }
  for (int row = 0; row < list.Count(); ++row) {
    TlvFilesRecord& record = list.Row(row).Record;
    record.TrimStart = options.TrimStartMs;
    record.TrimLength = options.TrimLengthMs;
    if (options.Crop) {
      record.CropTop = options.CropTop;
      record.CropBottom = options.CropBottom;
      record.CropLeft = options.CropLeft;
      record.CropRight = options.CropRight;
      // Keep the source picture less the crop instead of fitting it into
      // the format's size: the crop the user asked for is what comes out.
      record.ZoomMode = "orig";
    }
  }

  if (!list.Empty() && !interrupted && batch.Start()) {
    view.BatchStarted();
    bool stopAsked = false;
    while (!view.Ended()) {
      pollfd wake{wakePipe[0], POLLIN, 0};
      if (poll(&wake, 1, view.Live() ? 250 : -1) > 0) EmptyWakePipe();
      if (interrupted && !stopAsked) {
        stopAsked = true;
        view.Note("interrupted: stopping");
        batch.Stop();
      }
      batch.Drain();
      view.DrawProgress();
    }
  }
  view.PrintSummary(interrupted != 0);
  return view.AllConverted() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    PrintUsage(stderr);
    return 2;
  }
  if (options.Help) {
    PrintUsage(stdout);
    return 0;
  }
  if (options.ListFormats) {
    ListFormats();
    return 0;
  }
  if (options.Info) return PrintInfo(options.Files);
  return Convert(options);
}
