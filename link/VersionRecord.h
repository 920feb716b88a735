// The program's version record in the layout of a Windows version resource
// (VS_VERSIONINFO: a fixed file-info block, then string tables per language
// and code page, then the translation list), and the query that reads one
// text out of it. On Windows the record comes from the executable; elsewhere
// the program carries one of the same layout, so both are read alike.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TVersionRecordSource {
  uint16_t FileVersion[4] = {};  // major, minor, release, build
  uint16_t Language = 0;         // e.g. 0x0411
  uint16_t CodePage = 0;         // e.g. 932 (0x03a4)
  // Key and UTF-8 value of each text in the string table.
  std::vector<std::pair<std::string, std::string>> Strings;
};

// The record's bytes (UTF-16 texts, 32-bit aligned nodes).
std::vector<uint8_t> BuildVersionRecord(const TVersionRecordSource& source);

// The text at a query path such as "\StringFileInfo\041103a4\ProductName"
// (keys compared without regard to case), in UTF-8; nothing when a node of
// the path is missing, the value is not text or the record is malformed.
std::optional<std::string> QueryVersionText(const std::vector<uint8_t>& record,
                                            const std::string& path);

// The record this program carries for platforms whose executables have none.
std::vector<uint8_t> EmbeddedVersionRecord();

// The string-table block every query names: language 0x0411, code page 932.
inline constexpr char kVersionStringBlock[] = "041103a4";
// The key of a version item code: 0 CompanyName, 1 FileDescription,
// 2 FileVersion, 3 InternalName, 4 LegalCopyright, 5 OriginalFilename,
// 7 ProductName; 6 and every other code ProductVersion.
const char* VersionInfoKey(unsigned item);
// The text of an item in a record, or empty when the record, the 041103a4
// table or the key is missing.
std::string VersionInfoItemFrom(const std::vector<uint8_t>& record, unsigned item);
