#include "attributes/ppd_file.h"

#include <cctype>
#include <fstream>
#include <map>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The bytes a "<...>" substring starting at `open` spells, or nothing when it is no hex substring.
std::optional<std::string> HexSubstring(std::string_view text, size_t open, size_t& close) {
  close = text.find('>', open + 1);
  if (close == std::string_view::npos || close == open + 1)
    return std::nullopt;
  std::string bytes;
  int high = -1;
  for (size_t i = open + 1; i < close; ++i) {
    if (IsBlank(text[i]))
      continue;
    int value = HexValue(text[i]);
    if (value < 0)
      return std::nullopt;
    if (high < 0) {
      high = value;
    } else {
      bytes += static_cast<char>(high << 4 | value);
      high = -1;
    }
  }
  if (high >= 0 || bytes.empty())
    return std::nullopt;
  return bytes;
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first]))
    ++first;
  size_t last = text.size();
  while (last > first && IsBlank(text[last - 1]))
    --last;
  return std::string(text.substr(first, last - first));
}

// "*Keyword/Translation" or "Keyword/Translation" -> "Keyword".
std::string KeywordOf(std::string_view text) {
  std::string keyword = Trim(text);
  if (!keyword.empty() && keyword[0] == '*')
    keyword.erase(0, 1);
  return keyword.substr(0, keyword.find('/'));
}

std::string TranslationOf(std::string_view text) {
  size_t slash = text.find('/');
  return slash == std::string_view::npos ? "" : Trim(text.substr(slash + 1));
}

// One entry: "*Main Option/Translation: value", the value either a word or a quoted string that
// may run over several lines.
struct Entry {
  std::string main;
  std::string option;  // empty for entries without one ("*ColorDevice: True")
  std::string text;    // the option's translation
  std::string value;
  bool quoted = false;
};

bool ReadEntry(std::istream& in, const std::string& line, Entry& entry) {
  if (line.size() < 2 || line[0] != '*' || line[1] == '%')
    return false;
  const size_t colon = line.find(':');
  if (colon == std::string::npos)
    return false;
  const std::string head = line.substr(1, colon - 1);
  const size_t space = head.find_first_of(" \t");
  entry.main = head.substr(0, space);
  entry.option = space == std::string::npos ? "" : KeywordOf(head.substr(space + 1));
  entry.text = space == std::string::npos ? "" : TranslationOf(head.substr(space + 1));
  std::string value = Trim(std::string_view(line).substr(colon + 1));
  entry.quoted = !value.empty() && value[0] == '"';
  if (!entry.quoted) {
    entry.value = value;
    return true;
  }
  value.erase(0, 1);
  for (std::string more; value.find('"') == std::string::npos && std::getline(in, more);)
    value += '\n' + more;
  entry.value = value.substr(0, value.find('"'));
  return true;
}

PpdOption& OptionNamed(PpdFile& ppd, std::map<std::string, size_t>& index,
                       const std::string& keyword) {
  auto [it, added] = index.emplace(keyword, ppd.options.size());
  if (added) {
    ppd.options.emplace_back();
    ppd.options.back().keyword = keyword;
  }
  return ppd.options[it->second];
}

}  // namespace

const PpdChoice* PpdOption::Find(std::string_view name) const {
  for (const PpdChoice& choice : choices) {
    if (choice.name == name)
      return &choice;
  }
  return nullptr;
}

const PpdOption* PpdFile::Find(std::string_view keyword) const {
  for (const PpdOption& option : options) {
    if (option.keyword == keyword)
      return &option;
  }
  return nullptr;
}

std::string PpdFile::Default(std::string_view keyword) const {
  const PpdOption* option = Find(keyword);
  return option ? option->defaultChoice : "";
}

std::string DecodePpdHex(std::string_view text) {
  std::string decoded;
  size_t done = 0;
  for (size_t open = text.find('<'); open != std::string_view::npos;
       open = text.find('<', open + 1)) {
    size_t close = 0;
    std::optional<std::string> bytes = HexSubstring(text, open, close);
    if (!bytes)
      continue;
    decoded.append(text.substr(done, open - done));
    decoded += *bytes;
    done = close + 1;
    open = close;
  }
  decoded.append(text.substr(done));
  return decoded;
}

PpdFile ReadPpd(const std::string& path) {
  PpdFile ppd;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return ppd;
  ppd.readable = true;
  std::map<std::string, size_t> index;
  Entry entry;
  for (std::string line; std::getline(in, line);) {
    if (!ReadEntry(in, line, entry))
      continue;
    if (entry.main == "OpenUI" || entry.main == "JCLOpenUI") {
      PpdOption& option = OptionNamed(ppd, index, entry.option);
      option.userInterface = true;
      option.text = entry.text;
    } else if (entry.main == "ModelName" && entry.option.empty()) {
      ppd.modelName = entry.value;
    } else if (entry.main == "ColorDevice" && entry.option.empty()) {
      ppd.colorDevice = entry.value == "True";
    } else if (entry.main.starts_with("Default") && entry.main.size() > 7 && !entry.quoted) {
      OptionNamed(ppd, index, entry.main.substr(7)).defaultChoice = entry.value;
    } else if (!entry.option.empty() && entry.quoted) {
      PpdOption& option = OptionNamed(ppd, index, entry.main);
      if (!option.Find(entry.option))
        option.choices.push_back({entry.option, entry.text, DecodePpdHex(entry.value)});
    }
  }
  return ppd;
}
