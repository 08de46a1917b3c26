#include "tests/support/files.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace vp {

namespace {

bool IsStamp(const std::string& line) {
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < sizeof kShape - 1)
    return false;
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i])
      return false;
  }
  return true;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return out.good();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<std::string> Unstamped(const std::string& log) {
  std::vector<std::string> lines = Lines(log);
  for (std::string& line : lines) {
    if (IsStamp(line))
      line.erase(0, 20);
  }
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace vp
