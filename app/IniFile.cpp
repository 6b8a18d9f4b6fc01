#include "app/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// The 8-bit interface needs no Unicode converter, and the templates are
// compiled here rather than taken from the packaged library (which pulls in
// ICU for the wide-character variants we do not use).
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace {

size_t SkipBlanks(const std::string& text) {
  size_t position = 0;
  while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) ++position;
  return position;
}

bool ParseInt(const std::string& text, int& value) {
  size_t position = SkipBlanks(text);
  bool negative = false;
  if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
    negative = text[position] == '-';
    ++position;
  }
  int base = 10;
  if (position + 1 < text.size() && text[position] == '0' &&
      (text[position + 1] == 'x' || text[position + 1] == 'X')) {
    base = 16;
    position += 2;
  }
  if (position >= text.size()) return false;
  long long magnitude = 0;
  for (; position < text.size(); ++position) {
    const char c = text[position];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    // Hexadecimal text may spell a negative number in two's complement
    // ("0xFFFFFFFF" is -1), as a 32-bit reader takes it.
    if (magnitude > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
  }
  if (base == 16 && !negative) {
    value = static_cast<int>(static_cast<unsigned int>(magnitude));
    return true;
  }
  if (negative) magnitude = -magnitude;
  if (magnitude > 0x7FFFFFFFLL || magnitude < -0x80000000LL) return false;
  value = static_cast<int>(magnitude);
  return true;
}

}  // namespace

int StrToInt(const std::string& text) {
  int value = 0;
  if (!ParseInt(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

int StrToIntDef(const std::string& text, int defaultValue) {
  int value = 0;
  return ParseInt(text, value) ? value : defaultValue;
}

double StrToFloat(const std::string& text) {
  const size_t start = SkipBlanks(text);
  // strtod would also take "inf", "nan" and hexadecimal floats; only plain
  // decimal text is a number here.
  bool digits = false;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') {
      digits = false;
      break;
    }
  }
  if (digits) {
    const char* begin = text.c_str() + start;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end != begin && *end == '\0' && errno == 0) return value;
  }
  throw EConvertError("'" + text + "' is not a valid floating point value");
}

struct TIniFile::TData {
  CSimpleIniA ini{false, false, false};
};

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName), data_(std::make_unique<TData>()) {
  data_->ini.SetSpaces(false);
  if (!fileName_.empty()) data_->ini.LoadFile(fileName_.c_str());  // a missing file reads as empty
}

TIniFile::~TIniFile() = default;

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const char* value = data_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return value ? std::string(value) : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  const char* value = data_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return value ? StrToIntDef(value, defaultValue) : defaultValue;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return data_->ini.GetSection(section.c_str()) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return data_->ini.GetValue(section.c_str(), key.c_str(), nullptr) != nullptr;
}

std::vector<std::string> TIniFile::KeyNames(const std::string& section) const {
  CSimpleIniA::TNamesDepend keys;
  data_->ini.GetAllKeys(section.c_str(), keys);
  keys.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> names;
  for (const auto& key : keys) names.emplace_back(key.pItem);
  return names;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  if (data_->ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) {
    throw EIniFileException("Unable to write to " + fileName_);
  }
  Save();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::Save() {
  if (fileName_.empty()) return;
  std::string text;
  if (data_->ini.Save(text) < 0) throw EIniFileException("Unable to write to " + fileName_);

  // Written beside the file and renamed over it, so a crash never leaves a
  // half-written settings file.
  namespace fs = std::filesystem;
  const fs::path path(fileName_);
  std::error_code error;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      throw EIniFileException("Unable to write to " + fileName_);
    }
  }
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    throw EIniFileException("Unable to write to " + fileName_);
  }
}
