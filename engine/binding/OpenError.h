#pragma once
#include <string>

// Turns the error code of a failed open into a sentence for the user, with the
// file name filled in. Six meanings have their own text: unknown format
// (AVERROR_DEMUXER_NOT_FOUND), image name pattern (EDOM), invalid data,
// no memory, I/O error (truncated files included) and no such file.
std::string FormatOpenError(const std::string& fileName, int errorCode);
