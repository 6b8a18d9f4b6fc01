#pragma once
// How the two job option records reach a session: the record's ExtOptions
// lines first, then every field in record order, then the target preset, so
// that a field overrides a line and a preset overrides the fields. Fields at
// their "not set" value are skipped.
//
// Each function raises FFMpegException (or the number conversion error of the
// option table) on the first value the session refuses; the fields applied
// before it stay applied.
//
// Threads: the caller's, before the session runs.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/component/JobOptions.h"
#include "engine/session/CustomFFmpeg.h"

// ExtOptions, the forced demuxer, the start position and the program.
void ApplyInputOptions(TCustomFFmpeg& session, const TInputOptions& options);

// ExtOptions, every field, then the target preset. The hook choice is the
// converter's (it owns the hook events); ParseHookTimeRanges serves it.
void ApplyOutputOptions(TCustomFFmpeg& session, const TOutputOptions& options);

// "start-end,start-end,..." in milliseconds to ranges in microseconds, sorted
// by ascending end. A range is kept when its end is not before its start and
// not negative; an unreadable number counts as -1.
std::vector<THookRange> ParseHookTimeRanges(const std::string& text);

// A local date-time (days since 1899-12-30) as seconds since 1970 UTC,
// rounded to the nearest second, with the local time zone's current offset.
int64_t DateTimeToUnixTime(double localDateTime);

// A colour value of the record (red in the low byte, then green and blue) as
// a plain RGB value. Negative values name system colours of a desktop
// palette the engine does not have; they resolve to black.
int32_t ColorToRGB(int32_t color);
