#include "attributes/device_code.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vp {

namespace {

enum class Syntax { kPostScript, kPjl };

// One setting: the key, the value as the code spells it (PJL compared without regard to case),
// and what it gives.
struct CodeRow {
  Syntax syntax;
  std::string_view key;
  std::string_view value;
  std::string JobInfo::*field;
  std::string_view result;
};

constexpr CodeRow kCodeRows[] = {
    {Syntax::kPostScript, "/ProcessColorModel", "/DeviceGray", &JobInfo::color, "Grayscale"},
    {Syntax::kPostScript, "/ProcessColorModel", "/DeviceRGB", &JobInfo::color, "Color"},
    {Syntax::kPostScript, "/ProcessColorModel", "/DeviceCMYK", &JobInfo::color, "Color"},
    {Syntax::kPostScript, "/ProcessColorModel", "/DeviceCMY", &JobInfo::color, "Color"},
    {Syntax::kPostScript, "/Duplex", "true", &JobInfo::duplex, "TwoSided"},
    {Syntax::kPostScript, "/Duplex", "false", &JobInfo::duplex, "OneSided"},
    {Syntax::kPostScript, "/Tumble", "true", &JobInfo::binding, "SHORTEDGE"},
    {Syntax::kPostScript, "/Tumble", "false", &JobInfo::binding, "LONGEDGE"},
    {Syntax::kPjl, "DUPLEX", "ON", &JobInfo::duplex, "TwoSided"},
    {Syntax::kPjl, "DUPLEX", "OFF", &JobInfo::duplex, "OneSided"},
    {Syntax::kPjl, "BINDING", "LONGEDGE", &JobInfo::binding, "LONGEDGE"},
    {Syntax::kPjl, "BINDING", "SHORTEDGE", &JobInfo::binding, "SHORTEDGE"},
    {Syntax::kPjl, "RENDERMODE", "GRAYSCALE", &JobInfo::color, "Grayscale"},
    {Syntax::kPjl, "RENDERMODE", "COLOR", &JobInfo::color, "Color"},
    {Syntax::kPjl, "DATAMODE", "GRAYSCALE", &JobInfo::color, "Grayscale"},
    {Syntax::kPjl, "DATAMODE", "COLOR", &JobInfo::color, "Color"},
    {Syntax::kPjl, "GRAYSCALE", "OFF", &JobInfo::color, "Color"},
    {Syntax::kPjl, "GRAYSCALE", "ON", &JobInfo::color, "Grayscale"},
    {Syntax::kPjl, "GRAYSCALE", "COMPOSITE", &JobInfo::color, "Grayscale"},
    {Syntax::kPjl, "GRAYSCALE", "BLACKONLY", &JobInfo::color, "Grayscale"},
};

struct Setting {
  size_t at;
  Syntax syntax;
  std::string key, value, spelled;
};

const CodeRow* RowFor(const Setting& s) {
  for (const CodeRow& row : kCodeRows) {
    if (row.syntax == s.syntax && row.key == s.key && row.value == s.value)
      return &row;
  }
  return nullptr;
}

// Keeps a setting only when a row knows it, so memory follows the settings that decide something
// however much code there is.
void Keep(std::vector<Setting>& found, Setting setting) {
  if (RowFor(setting))
    found.push_back(std::move(setting));
}

bool IsPostScriptDelimiter(char c) {
  return std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '<' || c == '>' ||
         c == '[' || c == ']' || c == '{' || c == '}' || c == '(' || c == ')' || c == '%';
}

// A value the table knows is a short name or word; reading no further than this keeps every
// setting's cost fixed however long the code, and a longer value matches no row anyway.
constexpr size_t kLongestValue = 64;
// PJL command lines are short (the PJL references allow 80 characters of a SET's value); the rest
// of a longer line is not read.
constexpr size_t kLongestPjlLine = 256;

// "/Key value" pairs for every key the table knows; the value is the next token ("/Name" or
// "word").
void FindPostScript(std::string_view code, std::string_view key, std::vector<Setting>& found) {
  for (size_t at = code.find(key); at != std::string_view::npos; at = code.find(key, at + 1)) {
    size_t end = at + key.size();
    if (end < code.size() && !IsPostScriptDelimiter(code[end]))
      continue;  // "/DuplexMode" is not "/Duplex"
    while (end < code.size() && std::isspace(static_cast<unsigned char>(code[end])))
      ++end;
    std::string_view window = code.substr(end, kLongestValue);
    std::string value;
    if (!window.empty() && window[0] == '(') {  // setpagedevice takes a string for a name
      value = "/" + std::string(window.substr(1, window.find(')') - 1));
    } else {
      size_t stop = !window.empty() && window[0] == '/' ? 1 : 0;
      while (stop < window.size() && !IsPostScriptDelimiter(window[stop]))
        ++stop;
      value = std::string(window.substr(0, stop));
    }
    Keep(found, {at, Syntax::kPostScript, std::string(key), value, std::string(key) + " " + value});
  }
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// "@PJL SET NAME = VALUE", one per line, blanks around the equals sign allowed.
void FindPjl(std::string_view code, std::vector<Setting>& found) {
  size_t lineEnd = 0;  // the end of the line holding `at`: found once per line
  for (size_t at = code.find("@PJL"); at != std::string_view::npos;
       at = code.find("@PJL", at + 1)) {
    if (lineEnd <= at) {
      lineEnd = code.find_first_of("\r\n", at);
      lineEnd = lineEnd == std::string_view::npos ? code.size() : lineEnd;
    }
    std::string_view line = code.substr(at, std::min(lineEnd - at, kLongestPjlLine));
    std::string_view rest = TrimBlanks(line.substr(4));
    if (Upper(rest.substr(0, 4)) != "SET " && Upper(rest.substr(0, 4)) != "SET\t")
      continue;
    rest = TrimBlanks(rest.substr(4));
    size_t equals = rest.find('=');
    if (equals == std::string_view::npos)
      continue;
    std::string name = Upper(TrimBlanks(rest.substr(0, equals)));
    std::string_view value = TrimBlanks(rest.substr(equals + 1));
    value = value.substr(0, value.find_first_of(" \t"));
    Keep(found, {at, Syntax::kPjl, name, Upper(value), std::string(TrimBlanks(line))});
  }
}

}  // namespace

CodeEffect ReadDeviceCode(std::string_view code) {
  std::vector<Setting> found;
  for (std::string_view key : {"/ProcessColorModel", "/Duplex", "/Tumble"})
    FindPostScript(code, key, found);
  FindPjl(code, found);
  std::stable_sort(found.begin(), found.end(),
                   [](const Setting& a, const Setting& b) { return a.at < b.at; });
  // Code that checks the device first ("statusdict /duplexer get exec {duplex} {simplex} ifelse")
  // asks in its first branch for what the choice means; the other is the fallback of a device
  // without the part.
  const bool branches = code.find("ifelse") != std::string_view::npos;
  CodeEffect effect;
  for (const Setting& s : found) {
    const CodeRow* row = RowFor(s);
    if (!row || (branches && !(effect.set.*row->field).empty()))
      continue;
    effect.set.*row->field = row->result;
    effect.said += (effect.said.empty() ? "" : " ") + s.spelled;
  }
  return effect;
}

}  // namespace vp
