#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace vp {

// A job's attributes, from the moment the print data is read until the job is uploaded.
// A fresh record has every field empty; parsers fill only what they find.
struct JobInfo {
  std::string color;         // "Color" or "Grayscale"
  std::string pages;         // page count, decimal digits
  std::string duplex;        // "OneSided" or "TwoSided"
  std::string binding;       // "LONGEDGE", "SHORTEDGE" or empty
  std::string copies;        // copy count, decimal digits
  std::string documentName;  // the job title
  std::string paper;         // paper size name, such as "A4"
  std::string orientation;   // such as "Portrait"
  std::string driverName;    // the driver model string
};

// The job options as key -> value; a later key wins.
using OptionsMap = std::map<std::string, std::string>;

// The non-empty pieces of text between any of the delimiter characters.
std::vector<std::string> strSplit(const std::string& text, const std::string& delimiters);

// Options argument ("k=v k2=v2") -> map, the map of ReadJobOptions. Tokens that are not exactly
// key=value are skipped.
OptionsMap GetKeyValue(const char* options);
OptionsMap GetKeyValue(const std::vector<std::string>& tokens);

// Position of the first ASCII-case-insensitive occurrence of word in text, or std::string::npos.
size_t findCaseInsensitive(const std::string& text, const std::string& word);

}  // namespace vp
