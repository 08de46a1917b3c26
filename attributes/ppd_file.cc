#include "attributes/ppd_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>
#include <set>

namespace vp {

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

// The bytes a "<...>" substring from `open` to `close` spells, or nothing when it is no hex
// substring. Stops at the first byte that is neither a hex digit nor a blank, so every byte is
// looked at by at most one call.
std::optional<std::string> HexSubstring(std::string_view text, size_t open, size_t close) {
  if (close == open + 1)
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
  bool cut = false;  // the quoted value outgrew kLongestCode
};

// The file's lines, one at a time, without their line feeds.
struct Lines {
  std::string_view rest;

  bool Next(std::string_view& line) {
    if (rest.empty())
      return false;
    size_t feed = rest.find('\n');
    line = rest.substr(0, feed);
    rest = feed == std::string_view::npos ? std::string_view() : rest.substr(feed + 1);
    return true;
  }
};

// Appends to a quoted value no more than kLongestCode bytes in all.
void AppendBounded(Entry& entry, std::string_view more) {
  size_t room = kLongestCode - std::min(kLongestCode, entry.value.size());
  entry.cut = entry.cut || more.size() > room;
  entry.value.append(more.substr(0, room));
}

bool ReadEntry(Lines& lines, std::string_view line, Entry& entry) {
  if (line.size() < 2 || line[0] != '*' || line[1] == '%')
    return false;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos)
    return false;
  const std::string_view head = line.substr(1, colon - 1);
  const size_t space = head.find_first_of(" \t");
  entry.main = std::string(head.substr(0, space));
  entry.option = space == std::string_view::npos ? "" : KeywordOf(head.substr(space + 1));
  entry.text = space == std::string_view::npos ? "" : TranslationOf(head.substr(space + 1));
  entry.value.clear();
  entry.cut = false;
  std::string value = Trim(line.substr(colon + 1));
  entry.quoted = !value.empty() && value[0] == '"';
  if (!entry.quoted) {
    entry.value = value;
    return true;
  }
  // Only each new line is searched for the closing quote, so a quote never closed costs one pass.
  std::string_view part = std::string_view(value).substr(1);
  for (size_t quote; (quote = part.find('"')) == std::string_view::npos;) {
    AppendBounded(entry, part);
    if (!lines.Next(part))
      return true;
    AppendBounded(entry, "\n");
  }
  AppendBounded(entry, part.substr(0, part.find('"')));
  return true;
}

// The PPD's bytes, at most kLargestPpd of them; empty with `readable` false when the path names no
// regular file. Opened without blocking: a FIFO in its place would hold the job for ever.
std::string ReadBoundedFile(const std::string& path, PpdFile& ppd) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return bytes;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return bytes;
  }
  ppd.readable = true;
  char block[64 << 10];
  while (bytes.size() <= kLargestPpd) {
    ssize_t got = read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    bytes.append(block, static_cast<size_t>(got));
  }
  close(fd);
  if (bytes.size() > kLargestPpd) {
    bytes.resize(kLargestPpd);
    ppd.limits.push_back("PPD " + path + " is larger than " + std::to_string(kLargestPpd) +
                         " bytes: only its start was read");
  }
  return bytes;
}

// What the reader keeps while it reads: where each option and choice is, so that a PPD with very
// many of them is still read in one pass.
struct Index {
  std::map<std::string, size_t> options;
  std::set<std::pair<size_t, std::string>> choices;
  bool optionsFull = false, choicesFull = false;
};

PpdOption* OptionNamed(PpdFile& ppd, Index& index, const std::string& keyword) {
  auto it = index.options.find(keyword);
  if (it != index.options.end())
    return &ppd.options[it->second];
  if (ppd.options.size() >= kMostOptions) {
    index.optionsFull = true;
    return nullptr;
  }
  index.options.emplace(keyword, ppd.options.size());
  ppd.options.emplace_back();
  ppd.options.back().keyword = keyword;
  return &ppd.options.back();
}

void AddChoice(PpdFile& ppd, Index& index, const Entry& entry) {
  PpdOption* option = OptionNamed(ppd, index, entry.main);
  if (!option)
    return;
  const size_t at = static_cast<size_t>(option - ppd.options.data());
  if (index.choices.count({at, entry.option}) != 0)
    return;
  if (index.choices.size() >= kMostChoices) {
    index.choicesFull = true;
    return;
  }
  index.choices.emplace(at, entry.option);
  option->choices.push_back({entry.option, entry.text, DecodePpdHex(entry.value), entry.cut});
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
  size_t close = 0;  // the first '>' after the current '<': found once for every '<' before it
  for (size_t open = text.find('<'); open != std::string_view::npos;
       open = text.find('<', open + 1)) {
    if (close <= open)
      close = text.find('>', open + 1);
    if (close == std::string_view::npos)
      break;
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
  const std::string bytes = ReadBoundedFile(path, ppd);
  Index index;
  Entry entry;
  Lines lines{bytes};
  for (std::string_view line; lines.Next(line);) {
    if (!ReadEntry(lines, line, entry))
      continue;
    if (entry.main == "OpenUI" || entry.main == "JCLOpenUI") {
      if (PpdOption* option = OptionNamed(ppd, index, entry.option)) {
        option->userInterface = true;
        option->text = entry.text;
      }
    } else if (entry.main == "ModelName" && entry.option.empty()) {
      ppd.modelName = entry.value;
    } else if (entry.main == "ColorDevice" && entry.option.empty()) {
      ppd.colorDevice = entry.value == "True";
    } else if (entry.main.starts_with("Default") && entry.main.size() > 7 && !entry.quoted) {
      if (PpdOption* option = OptionNamed(ppd, index, entry.main.substr(7)))
        option->defaultChoice = entry.value;
    } else if (!entry.option.empty() && entry.quoted) {
      AddChoice(ppd, index, entry);
    }
  }
  if (index.optionsFull)
    ppd.limits.push_back("PPD " + path + " has more than " + std::to_string(kMostOptions) +
                         " options: the later ones were not read");
  if (index.choicesFull)
    ppd.limits.push_back("PPD " + path + " has more than " + std::to_string(kMostChoices) +
                         " choices: the later ones were not read");
  return ppd;
}

}  // namespace vp
