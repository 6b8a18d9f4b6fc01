#pragma once
#include <string>

// The folder that holds the running program (with a trailing "/").
std::string ProgramFolder();
// The "LibAV" folder beside the program when it exists (a bundled set of media
// libraries), else empty: the system's library search finds the installed ones.
std::string BundledLibraryFolder();
