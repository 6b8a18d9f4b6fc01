#pragma once
// INI-file access as the application uses it: an object is opened on a file
// for one operation, reads or writes the keys it needs and is dropped. Nothing
// is cached between operations, so a value written is seen by the next reader.
// Section and key names match without regard to case.
//
// Threads: the user-interface thread only (one object, one thread).
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// The conversion error of a text that should be a number; its message is the
// one the application-wide handler shows.
class EConvertError : public std::runtime_error {
public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// A settings file that cannot be written.
class EIniFileException : public std::runtime_error {
public:
  explicit EIniFileException(const std::string& message) : std::runtime_error(message) {}
};

// Strict conversions: optional leading blanks, an optional sign, then decimal
// digits or "0x" and hexadecimal digits, and nothing after. Raise
// EConvertError otherwise.
int StrToInt(const std::string& text);
// Decimal point, optional exponent; raises EConvertError.
double StrToFloat(const std::string& text);
// StrToInt, or the default when the text is not a number.
int StrToIntDef(const std::string& text, int defaultValue);

class TIniFile {
public:
  // Reads the file when it exists; a missing file reads as empty. An empty
  // file name gives an object held in memory only (writes are kept, nothing
  // is saved).
  explicit TIniFile(const std::string& fileName);
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  // The default is returned only when the key is absent; a key present with an
  // empty value reads as empty.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal or "0x" hexadecimal; the default when absent or not a number.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The keys of a section as spelled in the file, in file order.
  std::vector<std::string> KeyNames(const std::string& section) const;

  // Each write is saved at once; the first write creates the file and its
  // folder. Raises EIniFileException when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

private:
  void Save();

  std::string fileName_;
  struct TData;
  std::unique_ptr<TData> data_;
};
