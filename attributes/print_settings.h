#pragma once

#include <string>
#include <utility>
#include <vector>

#include "attributes/job_info.h"

namespace vp {

// The options argument as an ordered list of key/value pairs, one per space-separated token. Unlike
// the options map it keeps order, repeated keys and malformed tokens, so positions stay meaningful.
using OptionPair = std::pair<std::string, std::string>;

// Both views of the options argument, read in one pass over its tokens.
struct JobOptions {
  // The well-formed pairs: tokens between spaces that cut into exactly two non-empty pieces at
  // their runs of '=' ("a==b" is a=b, "a=b=c" is left out); a later key wins.
  OptionsMap map;
  // One pair per token, every single space ending a token (so one pair more than the text holds
  // spaces), cut at its first '='.
  std::vector<OptionPair> settings;
};

// The one reader of the options argument.
JobOptions ReadJobOptions(const std::string& text);

// The ordered view alone.
std::vector<OptionPair> parsePrintSettings(const std::string& text);

// Cuts a token at its first "=": key before, value after (further "=" included). A token without
// "=" gives two empty texts.
OptionPair splitKeyValue(const std::string& token);

}  // namespace vp
