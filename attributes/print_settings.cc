#include "attributes/print_settings.h"

std::vector<OptionPair> parsePrintSettings(const std::string& text) {
  std::vector<OptionPair> pairs;
  size_t start = 0;
  for (size_t space = text.find(' '); space != std::string::npos; space = text.find(' ', start)) {
    pairs.push_back(splitKeyValue(text.substr(start, space - start)));
    start = space + 1;
  }
  pairs.push_back(splitKeyValue(text.substr(start)));
  return pairs;
}

OptionPair splitKeyValue(const std::string& token) {
  const size_t equals = token.find('=');
  if (equals == std::string::npos) {
    return {};
  }
  return {token.substr(0, equals), token.substr(equals + 1)};
}
