#include "app/OutputNaming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/Settings.h"

namespace {

// More candidates than any folder holds; stops a loop over a name that can
// never be claimed.
constexpr int kMaxCandidates = 1000000;

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates the folder with its missing parents; true when it exists after.
bool ForceFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code failure;
  std::filesystem::create_directories(folder, failure);
  return IsFolder(folder);
}

std::string WithSeparator(std::string folder) {
  if (TGlobalObject::RightChars(folder, 1) != "/") folder += '/';
  return folder;
}

}  // namespace

std::string SourceBaseName(const std::string& source) {
  const size_t slash = source.rfind('/');
  std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string OutputNameCandidate(const std::string& base, int n, const std::string& suffix) {
  if (n <= 0) return base + "_(new)" + suffix;
  return base + "_(new_" + std::to_string(n) + ")" + suffix;
}

bool PathTaken(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

std::string TOutputNaming::FolderText() const {
  if (!folderOverride_.empty()) return folderOverride_;
  return ReadFolderSetting(global_, settings::OutPutDir);
}

std::string TOutputNaming::OutputFolder() {
  lastError_.clear();
  std::string folder = FolderText();
  if (!replacedFolder_.empty() && folder == replacedFolder_) folder = global_.DefaultFolder();
  if (!ForceFolder(folder)) {
    if (!folderOverride_.empty()) {
      lastError_ = "Cannot create output directory:" + folder;
      return {};
    }
    const std::string fallback = global_.DefaultFolder();
    if (OnFolderWarning) {
      OnFolderWarning("Cannot create output directory:" + folder + ".It will create default directory " +
                      fallback + "!");
    }
    if (!ForceFolder(fallback)) {
      lastError_ = "Cannot create output directory:" + fallback;
      return {};
    }
    // The default folder's settings spelling, which names it on every machine.
    if (storeFallback_) {
      WriteSetting(global_, settings::OutPutDir, kDefaultFolderText);
    } else {
      replacedFolder_ = folder;
    }
    folder = fallback;
  }
  return WithSeparator(folder);
}

std::string TOutputNaming::MakeOutputFileName(const std::string& source, const std::string& suffix,
                                              const std::set<std::string>& reserved) {
  const std::string folder = OutputFolder();
  if (folder.empty()) return {};
  const std::string base = folder + SourceBaseName(source);
  for (int n = 0; n < kMaxCandidates; ++n) {
    std::string candidate = OutputNameCandidate(base, n, suffix);
    if (!PathTaken(candidate) && !reserved.count(candidate)) return candidate;
  }
  lastError_ = "No free output file name for " + base + suffix;
  return {};
}

bool TOutputNaming::ReserveOutputFileName(const std::string& source, const std::string& suffix,
                                          std::string& name, std::string& error) {
  name.clear();
  const std::string folder = OutputFolder();
  if (folder.empty()) {
    error = lastError_;
    return false;
  }
  const std::string base = folder + SourceBaseName(source);
  for (int n = 0; n < kMaxCandidates; ++n) {
    const std::string candidate = OutputNameCandidate(base, n, suffix);
    // O_EXCL makes the test and the claim one step: a file made by anyone
    // in between is never opened, let alone truncated.
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      name = candidate;
      return true;
    }
    if (errno != EEXIST) {
      error = candidate + ": " + std::strerror(errno);
      lastError_ = error;
      return false;
    }
  }
  error = "No free output file name for " + base + suffix;
  lastError_ = error;
  return false;
}

void TOutputNaming::ReleaseOutputFileName(const std::string& name) {
  struct stat info {};
  if (!name.empty() && lstat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
    unlink(name.c_str());
}
