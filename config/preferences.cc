#include "config/preferences.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include "config/plutil_listing.h"
#include "util/paths.h"

namespace vp {

namespace {

// A preferences domain of ours holds a handful of keys; a larger file is not one.
constexpr off_t kMaxPreferencesBytes = 64 * 1024;

// Only root writes these folders; the checks keep a mistake there (a link, a FIFO, a huge file)
// from holding or misleading the reader.
std::string FileProblem(const std::string& file, bool& absent) {
  struct stat info {};
  absent = false;
  if (lstat(file.c_str(), &info) != 0) {
    absent = errno == ENOENT;
    return absent ? "" : file + ": " + std::strerror(errno);
  }
  if (S_ISLNK(info.st_mode))
    return file + ": a symbolic link, not followed";
  if (!S_ISREG(info.st_mode))
    return file + ": not a plain file";
  if (info.st_size > kMaxPreferencesBytes)
    return file + ": larger than " + std::to_string(kMaxPreferencesBytes) + " bytes";
  return "";
}

// plutil lists a dictionary's own entries at an indent of two blanks, nested ones deeper.
bool FindTopLevel(const std::string& listing, const std::string& key, std::string& value) {
  const std::string prefix = "  \"" + key + "\" => ";
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos)
      end = listing.size();
    if (listing.compare(start, prefix.size(), prefix) == 0 && end - start > prefix.size()) {
      value = listing.substr(start + prefix.size(), end - start - prefix.size());
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

PreferenceValue ReadPreference(const std::vector<std::string>& files, const std::string& key) {
  PreferenceValue result;
  for (const std::string& file : files) {
    bool absent = false;
    result.problem = FileProblem(file, absent);
    if (absent)
      continue;
    if (!result.problem.empty())
      return result;
    std::string listing;
    std::ostringstream log;
    bool bounded =
        ListPropertyList(log, paths::kPlutil, file, [&listing](const char* data, size_t size) {
          listing.append(data, size);
          return true;
        });
    if (!bounded || !listing.starts_with("{\n")) {
      result.problem = file + ": not a property list plutil can read";
      return result;
    }
    if (FindTopLevel(listing, key, result.value)) {
      result.file = file;
      return result;
    }
  }
  return result;
}

}  // namespace vp
