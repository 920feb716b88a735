#include "link/VersionRecord.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoStrucVersion = 0x00010000;
constexpr uint32_t kFixedInfoFileOs = 0x00040004;  // VOS_NT_WINDOWS32
constexpr uint32_t kFixedInfoFileTypeApp = 0x00000001;
constexpr size_t kFixedInfoSize = 13 * 4;
constexpr uint16_t kTypeBinary = 0;
constexpr uint16_t kTypeText = 1;
constexpr size_t kNodeHeaderSize = 6;  // wLength, wValueLength, wType

// This program's record.
const TVersionRecordSource kProgramRecord{
    {1, 1, 6, 0},
    0x0411,
    932,
    {{"CompanyName", "QVX"},
     {"FileDescription", "QVX-K417 ファームアップデートツール"},
     {"FileVersion", "1.1.6.0"},
     {"InternalName", "qvxupdate"},
     {"LegalCopyright", "Copyright (C) QVX"},
     {"OriginalFilename", "qvxupdate"},
     {"ProductName", "QVX RORaderaD116"},
     {"ProductVersion", "1.1.6.0"}}};

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 0xE && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 0x1E && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
           (s[i + 3] & 0x3Fu);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// ---- writing ----

void PutWord(std::vector<uint8_t>& b, uint16_t w) {
  b.push_back(static_cast<uint8_t>(w & 0xFF));
  b.push_back(static_cast<uint8_t>(w >> 8));
}
void PutDword(std::vector<uint8_t>& b, uint32_t d) {
  PutWord(b, static_cast<uint16_t>(d & 0xFFFF));
  PutWord(b, static_cast<uint16_t>(d >> 16));
}
void PutText(std::vector<uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) PutWord(b, static_cast<uint16_t>(c));
  PutWord(b, 0);
}
void Align(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// One node: header, key, value, children; its length patched in at the end.
std::vector<uint8_t> Node(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                          uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> b;
  PutWord(b, 0);
  PutWord(b, valueLength);
  PutWord(b, type);
  PutText(b, Utf8ToUtf16(key));
  Align(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const auto& child : children) {
    Align(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  b[0] = static_cast<uint8_t>(b.size() & 0xFF);
  b[1] = static_cast<uint8_t>(b.size() >> 8);
  return b;
}

std::string Hex4(uint16_t v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

// ---- reading ----

struct TNode {
  size_t Begin = 0, End = 0;  // the node's bytes
  std::u16string Key;
  size_t ValueBegin = 0;
  uint16_t ValueLength = 0;
  uint16_t Type = 0;
  size_t ChildrenBegin = 0;
};

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
size_t AlignUp(size_t at) {
  return (at + 3) & ~size_t{3};
}

// Parses the node at `at` that must end by `limit`.
std::optional<TNode> ReadNode(const std::vector<uint8_t>& b, size_t at, size_t limit) {
  if (at + kNodeHeaderSize > limit) return std::nullopt;
  TNode n;
  n.Begin = at;
  const uint16_t length = Word(b, at);
  if (length < kNodeHeaderSize || at + length > limit) return std::nullopt;
  n.End = at + length;
  n.ValueLength = Word(b, at + 2);
  n.Type = Word(b, at + 4);
  size_t p = at + kNodeHeaderSize;
  for (;;) {
    if (p + 2 > n.End) return std::nullopt;
    const uint16_t c = Word(b, p);
    p += 2;
    if (c == 0) break;
    n.Key += static_cast<char16_t>(c);
  }
  n.ValueBegin = AlignUp(p);
  const size_t valueBytes = n.Type == kTypeText ? size_t{n.ValueLength} * 2 : n.ValueLength;
  if (n.ValueBegin + valueBytes > n.End) {
    if (valueBytes) return std::nullopt;
    n.ValueBegin = n.End;
  }
  n.ChildrenBegin = AlignUp(n.ValueBegin + valueBytes);
  return n;
}

bool SameKey(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t x = a[i] < 0x80 ? static_cast<char16_t>(std::tolower(a[i])) : a[i];
    const char16_t y = b[i] < 0x80 ? static_cast<char16_t>(std::tolower(b[i])) : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> BuildVersionRecord(const TVersionRecordSource& source) {
  std::vector<uint8_t> fixed;
  const uint32_t ms = (uint32_t{source.FileVersion[0]} << 16) | source.FileVersion[1];
  const uint32_t ls = (uint32_t{source.FileVersion[2]} << 16) | source.FileVersion[3];
  for (uint32_t d : {kFixedInfoSignature, kFixedInfoStrucVersion, ms, ls, ms, ls, 0u, 0u,
                     kFixedInfoFileOs, kFixedInfoFileTypeApp, 0u, 0u, 0u})
    PutDword(fixed, d);

  std::vector<std::vector<uint8_t>> strings;
  for (const auto& [key, text] : source.Strings) {
    std::vector<uint8_t> value;
    const std::u16string wide = Utf8ToUtf16(text);
    PutText(value, wide);
    strings.push_back(Node(key, kTypeText, value, static_cast<uint16_t>(wide.size() + 1), {}));
  }
  const std::string block = Hex4(source.Language) + Hex4(source.CodePage);
  const auto table = Node(block, kTypeText, {}, 0, strings);
  const auto stringInfo = Node("StringFileInfo", kTypeText, {}, 0, {table});

  std::vector<uint8_t> translation;
  PutWord(translation, source.Language);
  PutWord(translation, source.CodePage);
  const auto var = Node("Translation", kTypeBinary, translation, 4, {});
  const auto varInfo = Node("VarFileInfo", kTypeText, {}, 0, {var});

  return Node("VS_VERSION_INFO", kTypeBinary, fixed, static_cast<uint16_t>(kFixedInfoSize),
              {stringInfo, varInfo});
}

std::optional<std::string> QueryVersionText(const std::vector<uint8_t>& record,
                                            const std::string& path) {
  auto node = ReadNode(record, 0, record.size());
  if (!node) return std::nullopt;
  // Walk the path's keys, each one level down.
  size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == '\\') {
      ++pos;
      continue;
    }
    const size_t end = std::min(path.find('\\', pos), path.size());
    const std::u16string key = Utf8ToUtf16(path.substr(pos, end - pos));
    pos = end;
    std::optional<TNode> found;
    for (size_t at = node->ChildrenBegin; at < node->End;) {
      auto child = ReadNode(record, at, node->End);
      if (!child) return std::nullopt;
      if (SameKey(child->Key, key)) {
        found = child;
        break;
      }
      at = AlignUp(child->End);
    }
    if (!found) return std::nullopt;
    node = found;
  }
  if (node->Type != kTypeText || node->ValueLength == 0) return std::nullopt;
  std::u16string text;
  for (size_t i = 0; i < node->ValueLength; ++i) {
    const uint16_t c = Word(record, node->ValueBegin + 2 * i);
    if (c == 0) break;
    text += static_cast<char16_t>(c);
  }
  return Utf16ToUtf8(text);
}

std::vector<uint8_t> EmbeddedVersionRecord() {
  return BuildVersionRecord(kProgramRecord);
}

const char* VersionInfoKey(unsigned item) {
  switch (item) {
    case 0:
      return "CompanyName";
    case 1:
      return "FileDescription";
    case 2:
      return "FileVersion";
    case 3:
      return "InternalName";
    case 4:
      return "LegalCopyright";
    case 5:
      return "OriginalFilename";
    case 7:
      return "ProductName";
    default:
      return "ProductVersion";
  }
}

std::string VersionInfoItemFrom(const std::vector<uint8_t>& record, unsigned item) {
  if (record.empty()) return {};
  const std::string path =
      std::string("\\StringFileInfo\\") + kVersionStringBlock + "\\" + VersionInfoKey(item);
  return QueryVersionText(record, path).value_or(std::string());
}
