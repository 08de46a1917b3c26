#include "attributes/job_info.h"

#include <algorithm>
#include <cctype>

#include "attributes/print_settings.h"

namespace vp {

std::vector<std::string> strSplit(const std::string& text, const std::string& delimiters) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(delimiters, start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

OptionsMap GetKeyValue(const char* options) {
  return ReadJobOptions(options ? options : "").map;
}

OptionsMap GetKeyValue(const std::vector<std::string>& tokens) {
  OptionsMap map;
  for (const std::string& token : tokens) {
    std::vector<std::string> pair = strSplit(token, "=");
    if (pair.size() == 2)
      map[pair[0]] = pair[1];
  }
  return map;
}

static bool caseInsensitiveCharCompare(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

size_t findCaseInsensitive(const std::string& text, const std::string& word) {
  auto it =
      std::search(text.begin(), text.end(), word.begin(), word.end(), caseInsensitiveCharCompare);
  if (it == text.end())
    return std::string::npos;
  return static_cast<size_t>(it - text.begin());
}

}  // namespace vp
