#pragma once

#include <sstream>
#include <string>

#include "attributes/ppd_file.h"

namespace vp {

// A PPD record holding only the "*Default<keyword>: <choice>" lines of `lines`, as the PPD reader
// gives them, for the decisions that take a PPD already read.
inline PpdFile PpdWithDefaults(const std::string& lines) {
  PpdFile ppd;
  ppd.readable = !lines.empty();
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (line.rfind("*Default", 0) != 0 || colon == std::string::npos)
      continue;
    PpdOption option;
    option.keyword = line.substr(8, colon - 8);
    option.defaultChoice = line.substr(colon + 2);
    ppd.options.push_back(option);
  }
  return ppd;
}

}  // namespace vp
