#include "engine/binding/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  std::string program(path, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

std::string BundledLibraryFolder() {
  const std::string folder = ProgramFolder() + "LibAV";
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? folder : "";
}
