#include "util/safe_text.h"

#include <algorithm>
#include <cstdio>

namespace vp {

namespace {

constexpr char kDelete = 0x7f;
constexpr char kMask[] = "***";

}  // namespace

bool IsControlCharacter(char c) {
  return static_cast<unsigned char>(c) < ' ' || c == kDelete;
}

std::string OnOneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (IsControlCharacter(c))
      c = ' ';
  }
  return line;
}

std::string EscapedControlCharacters(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (!IsControlCharacter(c)) {
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
      escaped += code;
    }
  }
  return escaped;
}

std::string MaskedUserInfo(const std::string& address) {
  size_t scheme = address.find("://");
  size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  size_t end = std::min(address.find('/', start), address.size());
  size_t at = address.substr(start, end - start).rfind('@');
  if (at == std::string::npos || at == 0)
    return address;
  return address.substr(0, start) + kMask + address.substr(start + at);
}

}  // namespace vp
