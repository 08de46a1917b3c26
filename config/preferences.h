#pragma once

#include <string>
#include <vector>

namespace vp {

// A setting of a macOS preferences domain, read as the system keeps it for every user: the
// administrator's /Library/Preferences/<domain>.plist and the one a configuration profile (MDM)
// installs in /Library/Managed Preferences/, which wins.
struct PreferenceValue {
  std::string file;     // the file that set the key; empty when none does
  std::string value;    // as plutil lists it: an integer bare, a string in double quotes
  std::string problem;  // a file there that could not be read, and why; then nothing else is used
};

// The top-level `key` of the first of `files` (the managed one first) that sets it, read through
// plutil. A file that is not there is passed over; one that is a symbolic link, not a plain file,
// larger than a preferences file can be, or not a property list is a problem, so that a broken
// profile never quietly gives way to an older setting.
PreferenceValue ReadPreference(const std::vector<std::string>& files, const std::string& key);

}  // namespace vp
