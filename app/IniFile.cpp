#include "app/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsComment(const std::string& trimmed) {
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// "[name]" gives name; anything else gives nothing.
std::optional<std::string> SectionName(const std::string& body) {
  const std::string t = Trim(body);
  if (t.size() < 2 || t[0] != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// Position of the "=" of a key line, if the line is one.
std::optional<size_t> KeyEquals(const std::string& body) {
  const std::string t = Trim(body);
  if (t.empty() || IsComment(t) || t[0] == '[') return std::nullopt;
  const size_t eq = body.find('=');
  if (eq == std::string::npos || Trim(body.substr(0, eq)).empty()) return std::nullopt;
  return eq;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<int32_t> ParseIniInteger(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() - 2 > 8) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return std::nullopt;
      v = (v << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(v);
  }
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v = v * 10 + (text[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(v);
}

TIniFile::TIniFile(const std::string& bytes) {
  size_t pos = 0;
  if (bytes.compare(0, 3, kBom) == 0) {
    FBom = kBom;
    pos = 3;
  }
  while (pos < bytes.size()) {
    const size_t nl = bytes.find('\n', pos);
    TLine line;
    if (nl == std::string::npos) {
      line.Body = bytes.substr(pos);
      pos = bytes.size();
    } else {
      size_t end = nl;
      if (end > pos && bytes[end - 1] == '\r') --end;
      line.Body = bytes.substr(pos, end - pos);
      line.Eol = bytes.substr(end, nl + 1 - end);
      pos = nl + 1;
    }
    FLines.push_back(std::move(line));
  }
}

std::optional<TIniFile::TRange> TIniFile::FindSection(const std::string& section) const {
  for (size_t i = 0; i < FLines.size(); ++i) {
    const auto name = SectionName(FLines[i].Body);
    if (!name || !SameName(*name, section)) continue;
    size_t end = i + 1;
    while (end < FLines.size() && !SectionName(FLines[end].Body)) ++end;
    return TRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> TIniFile::FindKey(const TRange& range, const std::string& key) const {
  for (size_t i = range.Header + 1; i < range.End; ++i) {
    const auto eq = KeyEquals(FLines[i].Body);
    if (eq && SameName(Trim(FLines[i].Body.substr(0, *eq)), key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> TIniFile::ReadString(const std::string& section,
                                                const std::string& key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  const auto line = FindKey(*range, key);
  if (!line) return std::nullopt;
  const std::string& body = FLines[*line].Body;
  std::string value = Trim(body.substr(*KeyEquals(body) + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
  const auto text = ReadString(section, key);
  if (!text) return def;
  return ParseIniInteger(*text).value_or(def);
}

std::string TIniFile::NewLineEnd() const {
  // New lines follow the file's own convention.
  for (const auto& l : FLines)
    if (!l.Eol.empty()) return l.Eol;
#ifdef _WIN32
  return "\r\n";
#else
  return "\n";
#endif
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& fullValue) {
  const std::string value = fullValue.substr(0, fullValue.find_first_of("\r\n"));
  const std::string eol = NewLineEnd();
  auto range = FindSection(section);
  if (!range) {
    if (!FLines.empty() && FLines.back().Eol.empty()) FLines.back().Eol = eol;
    FLines.push_back({"[" + section + "]", eol});
    range = TRange{FLines.size() - 1, FLines.size()};
  }
  if (const auto line = FindKey(*range, key)) {
    // Keep the key's spelling and the blanks around "=" as the editor left them.
    std::string& body = FLines[*line].Body;
    size_t valueStart = *KeyEquals(body) + 1;
    while (valueStart < body.size() && IsBlank(body[valueStart])) ++valueStart;
    body = body.substr(0, valueStart) + value;
    return;
  }
  // After the section's last key, so that comments heading the next section
  // stay with it.
  size_t at = range->Header + 1;
  for (size_t i = range->Header + 1; i < range->End; ++i)
    if (KeyEquals(FLines[i].Body)) at = i + 1;
  if (FLines[at - 1].Eol.empty()) FLines[at - 1].Eol = eol;
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(at), {key + "=" + value, eol});
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

std::string TIniFile::Bytes() const {
  std::string out = FBom;
  for (const auto& l : FLines) {
    out += l.Body;
    out += l.Eol;
  }
  return out;
}

bool ReadIniFile(const QString& path, TIniFile* ini, QString* error) {
  *ini = TIniFile();
  QFile file(path);
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("Unable to read %1 (%2)").arg(path, file.errorString());
    return false;
  }
  *ini = TIniFile(file.readAll().toStdString());
  return true;
}

bool SaveIniFile(const QString& path, const TIniFile& ini, QString* error) {
  auto fail = [&](const QString& reason) {
    if (error) *error = QStringLiteral("Unable to write to %1 (%2)").arg(path, reason);
    return false;
  };
  const QFileInfo info(path);
  if (info.isDir()) return fail(QStringLiteral("it is a folder"));
  // A file the operator made read-only stays untouched, although the rename
  // could replace it.
  if (info.exists() && !info.isWritable()) return fail(QStringLiteral("the file is read-only"));
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  const std::string bytes = ini.Bytes();
  if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
      static_cast<qint64>(bytes.size())) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return fail(reason);
  }
  if (!file.commit()) return fail(file.errorString());
  return true;
}
