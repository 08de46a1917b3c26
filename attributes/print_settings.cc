#include "attributes/print_settings.h"

namespace vp {

namespace {

void ReadToken(JobOptions& options, const std::string& token) {
  options.settings.push_back(splitKeyValue(token));
  if (token.empty())
    return;
  std::vector<std::string> pair = strSplit(token, "=");
  if (pair.size() == 2)
    options.map[pair[0]] = pair[1];
}

}  // namespace

JobOptions ReadJobOptions(const std::string& text) {
  JobOptions options;
  size_t start = 0;
  for (size_t space = text.find(' '); space != std::string::npos; space = text.find(' ', start)) {
    ReadToken(options, text.substr(start, space - start));
    start = space + 1;
  }
  ReadToken(options, text.substr(start));
  return options;
}

std::vector<OptionPair> parsePrintSettings(const std::string& text) {
  return ReadJobOptions(text).settings;
}

OptionPair splitKeyValue(const std::string& token) {
  const size_t equals = token.find('=');
  if (equals == std::string::npos) {
    return {};
  }
  return {token.substr(0, equals), token.substr(equals + 1)};
}

}  // namespace vp
