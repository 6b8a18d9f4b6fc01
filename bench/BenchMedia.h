#pragma once
#include <string>

// The 1280x720 H.264 + AAC bench input of the given length (key frame every
// 250 frames), generated into folder on first use and reused by every bench
// afterwards. Exits the program when it cannot be written.
std::string HdBenchFile(const std::string& folder, int seconds);
