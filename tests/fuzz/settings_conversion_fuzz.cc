// The text conversions that turn plutil's listing into JSON, on any text: replaceAll with any
// pattern, formatToJSON and fix_json_str, each held against a description of its result that does
// not follow its own steps; then the JSON parser on what they make.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "config/server_settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

// Left to right, each occurrence replaced and skipped over, so inserted text is never matched.
std::string Replaced(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty())
    return text;
  std::string result;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, from.size(), from) == 0) {
      result += to;
      at += from.size();
    } else {
      result += text[at++];
    }
  }
  return result;
}

bool IsBlank(char c) {
  return c == '\t' || c == '\n' || c == ' ';
}

// Inside a string means after an odd number of quotes; a quote itself is never blank.
std::string WithoutOutsideBlanks(const std::string& text) {
  std::string kept;
  size_t quotes = 0;
  for (char c : text) {
    quotes += c == '"';
    if (quotes % 2 == 1 || !IsBlank(c))
      kept += c;
  }
  return kept;
}

// An empty string is an opening quote straight followed by its closing one; the conversion puts
// a comma between the two.
std::string WithEmptyStringCommas(const std::string& text) {
  std::string result;
  size_t quotes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    bool closing = text[i] == '"' && ++quotes % 2 == 0;
    if (closing && i > 0 && text[i - 1] == '"')
      result += ',';
    result += text[i];
  }
  return result;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::string from = input.ConsumeRandomLengthString(8);
  std::string to = input.ConsumeRandomLengthString(8);
  std::string text = input.ConsumeRemainingBytesAsString();

  std::string replaced = text;
  replaceAll(replaced, from, to);
  Require(replaced == Replaced(text, from, to), "replaceAll replaces left to right, once");

  std::string separators = text;
  replaceAll(separators, " => ", ":");
  std::string formatted = formatToJSON(separators);
  Require(formatted == WithEmptyStringCommas(WithoutOutsideBlanks(separators)),
          "formatToJSON drops outside blanks and marks empty strings");
  std::string json = fix_json_str(formatted);
  Require(json == Replaced(formatted, "\"\"", "\",\""), "fix_json_str separates adjacent strings");

  nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("quoradex")) {
    for (const auto& member : parsed["quoradex"].items())
      Require(!member.value().dump().empty(), "every member prints");
  }
  return 0;
}
