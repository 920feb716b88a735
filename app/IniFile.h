// A small INI document that people and Windows tools edit by hand: it keeps
// every byte it is not asked to change (comments, other sections, unknown
// keys, key spelling, blanks around "=", line endings, a UTF-8 BOM) and
// changes values in place.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QString>

class TIniFile {
 public:
  TIniFile() = default;
  // Takes the raw bytes of a file; any encoding, LF or CRLF line ends.
  explicit TIniFile(const std::string& bytes);

  // The value of the first such key in the first such section (names compare
  // without regard to ASCII case, as on Windows), trimmed of blanks and of one
  // pair of enclosing quotes; nothing when the key is missing.
  std::optional<std::string> ReadString(const std::string& section, const std::string& key) const;
  // The decimal or "0x" hexadecimal number stored there, or def when the key
  // is missing or its value is not a 32-bit number.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;

  // Replaces the value in place, or adds the key after the last key of the
  // section, or adds the section at the end of the document. A line break in
  // the value ends it: it cannot smuggle lines into the file.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);

  // The document as bytes, ready to be written back.
  std::string Bytes() const;

 private:
  struct TLine {
    std::string Body;  // without its line end
    std::string Eol;   // "\r\n", "\n" or "" (last line without one)
  };
  // Index range [first, end) of the lines after the header of a section.
  struct TRange {
    size_t Header;
    size_t End;
  };

  std::optional<TRange> FindSection(const std::string& section) const;
  std::optional<size_t> FindKey(const TRange& range, const std::string& key) const;
  std::string NewLineEnd() const;

  std::string FBom;
  std::vector<TLine> FLines;
};

// Parses a stored integer: decimal with an optional sign, or, for a text
// longer than two characters starting with "0x" or "0X", up to eight
// hexadecimal digits (taken as a 32-bit pattern). Nothing when it is neither.
std::optional<int32_t> ParseIniInteger(const std::string& text);

// Reads the file into *ini. A missing file reads as an empty document; false
// with a readable reason in *error when the file is there but cannot be read.
bool ReadIniFile(const QString& path, TIniFile* ini, QString* error);

// Replaces the file atomically: a temporary file beside it is written, flushed
// and renamed over it, so a failure leaves the old file as it was. On failure
// returns false and a readable reason in *error.
bool SaveIniFile(const QString& path, const TIniFile& ini, QString* error);
