#pragma once

#include <string>

namespace vp {

// The text in single quotes for the shell, so that every byte of a path stays literal.
std::string ShellQuote(const std::string& text);

}  // namespace vp
