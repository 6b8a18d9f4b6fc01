#pragma once
// Where converted files go and what they are called: in the output folder,
// the source's name with "_(new)" and the format's extension, or with
// "_(new_1)", "_(new_2)", ... when that name is taken. An existing file is
// never overwritten.
//
// Threads: the application's (user-interface) thread; reads the main
// settings file and may write "OutPutDir" to it.
#include <functional>
#include <set>
#include <string>

#include "app/GlobalUnit.h"

// The source's file name without its folder and extension ("a" for
// "/x/a.avi"; a name that only starts with a dot keeps it).
std::string SourceBaseName(const std::string& source);
// base + "_(new)" + suffix for n 0, base + "_(new_" + n + ")" + suffix above.
std::string OutputNameCandidate(const std::string& base, int n, const std::string& suffix);
// Whether a file, folder or link (a dangling one too) of that name exists.
bool PathTaken(const std::string& path);

class TOutputNaming {
public:
  explicit TOutputNaming(const TGlobalObject& global) : global_(global) {}

  // A folder used instead of the stored "OutPutDir" (the command line's
  // --output). The fallback to the default folder does not apply to it: a
  // folder that cannot be created is an error.
  void SetFolderOverride(const std::string& folder) { folderOverride_ = folder; }
  const std::string& FolderOverride() const { return folderOverride_; }
  // Whether the fallback stores the default folder as "OutPutDir" (the
  // windows do; the command line leaves the user's settings alone).
  void SetStoreFallback(bool store) { storeFallback_ = store; }
  // Receives the fallback's warning (caption "Warning") before the default
  // folder is made.
  std::function<void(const std::string& text)> OnFolderWarning;

  // The output folder with a trailing "/", created with its missing parent
  // folders. A stored folder that cannot be created is replaced by the
  // default folder (with the warning). Empty, with LastError set, when no
  // folder can be had.
  std::string OutputFolder();

  // The first of folder + base + "_(new)" + suffix, "_(new_1)", ... that is
  // neither an existing file nor in reserved. Empty, with LastError, when
  // there is no output folder.
  std::string MakeOutputFileName(const std::string& source, const std::string& suffix,
                                 const std::set<std::string>& reserved = {});

  // The same choice, and the chosen name is claimed at once by creating the
  // file empty and exclusively: no other program and no later row can then
  // take it. False, with error, when no name could be claimed.
  bool ReserveOutputFileName(const std::string& source, const std::string& suffix, std::string& name,
                             std::string& error);
  // Gives a claimed name back: removes the file while it is still empty.
  static void ReleaseOutputFileName(const std::string& name);

  const std::string& LastError() const { return lastError_; }

private:
  std::string FolderText() const;

  const TGlobalObject& global_;
  std::string folderOverride_;
  bool storeFallback_ = true;
  // Without storing, the folder that failed and is replaced for the rest of
  // this object's life, so that the warning comes once.
  std::string replacedFolder_;
  std::string lastError_;
};
