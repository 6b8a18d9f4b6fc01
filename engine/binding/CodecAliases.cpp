#include "engine/binding/CodecAliases.h"

#include <iterator>
#include <string_view>

namespace {

struct TNameAlias {
  std::string_view OldName;
  std::string_view NewName;
};

// Renamed encoders: the old name no longer exists in any build.
constexpr TNameAlias kEncoderRenames[] = {
    {"libfaac", "aac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"libamr_wb", "libvo_amrwbenc"},
};

// Optional external encoders and the built-in encoder that writes the same
// kind of stream, used only when a build lacks the external one.
constexpr TNameAlias kEncoderSubstitutes[] = {
    {"libxvid", "mpeg4"},
};

constexpr TNameAlias kOptionRenames[] = {
    {"gop", "g"},
};

// Flags of "flags" that became boolean options of the encoders using them.
constexpr std::string_view kFlagsMovedToOptions[] = {
    "scan_offset",
};

std::string Lookup(const TNameAlias* begin, const TNameAlias* end, const std::string& name) {
  for (const TNameAlias* alias = begin; alias != end; ++alias) {
    if (alias->OldName == name) return std::string(alias->NewName);
  }
  return name;
}

}  // namespace

std::string CurrentEncoderName(const std::string& name) {
  return Lookup(std::begin(kEncoderRenames), std::end(kEncoderRenames), name);
}

std::string ResolveEncoderName(const std::string& name,
                               const std::function<bool(const std::string&)>& exists) {
  const std::string current = CurrentEncoderName(name);
  if (!exists || exists(current)) return current;
  const std::string substitute =
      Lookup(std::begin(kEncoderSubstitutes), std::end(kEncoderSubstitutes), current);
  return substitute != current && exists(substitute) ? substitute : current;
}

std::string CurrentOptionName(const std::string& name) {
  return Lookup(std::begin(kOptionRenames), std::end(kOptionRenames), name);
}

bool FlagMovedToOption(const std::string& flagsValue, std::string& optionName, std::string& optionValue) {
  const std::string flag = !flagsValue.empty() && flagsValue[0] == '+' ? flagsValue.substr(1) : flagsValue;
  for (std::string_view moved : kFlagsMovedToOptions) {
    if (moved == flag) {
      optionName = std::string(moved);
      optionValue.assign(1, '1');
      return true;
    }
  }
  return false;
}
