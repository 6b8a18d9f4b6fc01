#pragma once
// Encoder and option names of the older library generation that the installed
// libraries know under another name. Profiles, stored settings and option
// texts may still carry the old names; every place that hands a name to the
// libraries passes it through here, so the renames live in one table.
//
// Pure functions: no library call, callable from any thread.
#include <functional>
#include <string>

// The current name of an encoder ("libfaac" -> "aac", "libamr_nb" ->
// "libopencore_amrnb"); any other name is returned unchanged.
std::string CurrentEncoderName(const std::string& name);

// CurrentEncoderName, then, when `exists` reports that the installed libraries
// lack that encoder, the built-in encoder that makes the same stream
// ("libxvid" -> "mpeg4"). Without a substitute the current name is returned
// and the caller reports the unknown encoder as usual.
std::string ResolveEncoderName(const std::string& name,
                               const std::function<bool(const std::string&)>& exists);

// The current name of a generic option ("gop" -> "g"); any other name is
// returned unchanged.
std::string CurrentOptionName(const std::string& name);

// A flag of the generic "flags" option that became an option of the encoders
// that use it: "+scan_offset" -> "scan_offset" "1". True, with that option's
// name and value, when flagsValue sets exactly one such flag.
bool FlagMovedToOption(const std::string& flagsValue, std::string& optionName, std::string& optionValue);
