#pragma once

#include <string>
#include <utility>
#include <vector>

// The options argument as an ordered list of key/value pairs, one per space-separated token. Unlike
// the options map it keeps order, repeated keys and malformed tokens, so positions stay meaningful.
using OptionPair = std::pair<std::string, std::string>;

// One pair per token; every single space ends a token, so the list always holds one pair more than
// the text holds spaces.
std::vector<OptionPair> parsePrintSettings(const std::string& text);

// Cuts a token at its first "=": key before, value after (further "=" included). A token without
// "=" gives two empty texts.
OptionPair splitKeyValue(const std::string& token);
