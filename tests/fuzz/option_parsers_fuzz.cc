// The two views of the options argument on any text: the options map (GetKeyValue, both forms)
// and the ordered print-settings list (parsePrintSettings), each against a plain reading of its
// rules.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "attributes/job_info.h"
#include "attributes/print_settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

// Pieces between single-character separators, empty ones kept.
std::vector<std::string> Cut(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator)
      pieces.emplace_back();
    else
      pieces.back() += c;
  }
  return pieces;
}

std::vector<std::string> NonEmpty(const std::vector<std::string>& pieces) {
  std::vector<std::string> kept;
  for (const std::string& piece : pieces) {
    if (!piece.empty())
      kept.push_back(piece);
  }
  return kept;
}

// A token counts only when it is exactly one key and one value around '=' signs; a later key wins.
OptionsMap ExpectedMap(const std::vector<std::string>& tokens) {
  OptionsMap map;
  for (const std::string& token : tokens) {
    std::vector<std::string> pieces = NonEmpty(Cut(token, '='));
    if (pieces.size() == 2)
      map[pieces[0]] = pieces[1];
  }
  return map;
}

OptionPair ExpectedPair(const std::string& token) {
  size_t equals = token.find('=');
  if (equals == std::string::npos)
    return {};
  return {token.substr(0, equals), token.substr(equals + 1)};
}

void CheckOptionsMap(const std::string& text) {
  // The options argument is a C string: it ends at its first NUL.
  std::string argument = text.substr(0, text.find('\0'));
  Require(GetKeyValue(argument.c_str()) == ExpectedMap(NonEmpty(Cut(argument, ' '))),
          "GetKeyValue(string) follows the token rules");
  // The list form takes tokens as they come, blanks and all.
  std::vector<std::string> lines = Cut(text, '\n');
  Require(GetKeyValue(lines) == ExpectedMap(lines), "GetKeyValue(list) follows the token rules");
}

void CheckPrintSettings(const std::string& text) {
  std::vector<std::string> tokens = Cut(text, ' ');
  std::vector<OptionPair> pairs = parsePrintSettings(text);
  Require(pairs.size() == tokens.size(), "one pair more than the text holds spaces");
  for (size_t i = 0; i < tokens.size() && i < pairs.size(); ++i)
    Require(pairs[i] == ExpectedPair(tokens[i]), "each pair is its token cut at the first '='");
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CheckOptionsMap(text);
  CheckPrintSettings(text);
  return 0;
}
