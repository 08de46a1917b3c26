#include "attributes/driver_features.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>
#include <string_view>

#include "attributes/ppd_file.h"
#include "util/safe_file.h"

namespace vp {

namespace {

constexpr size_t kLongestLine = 4096;
// A driver's PJL header is a few hundred bytes; one that never ends is read no further than this.
constexpr size_t kLongestPjlHeader = size_t{64} << 10;
// Options the PPD cannot name decide nothing, and a PPD names at most kMostOptions: a job naming
// more distinct options than that keeps only the first ones.
constexpr size_t kMostFeatureOptions = kMostOptions;
constexpr std::string_view kUniversalExit = "\x1b%-12345X";
constexpr std::string_view kFeatureMarkers[] = {"%%BeginFeature:", "%%IncludeFeature:"};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// What a feature is keyed by: later ones of the same key replace it. A PJL SET is keyed by its
// variable, so the last value of each wins; other PJL commands by their text.
std::string PjlKey(std::string_view command) {
  std::string upper(command);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::string_view rest = Trim(std::string_view(upper).substr(4));
  if (!rest.starts_with("SET ") && !rest.starts_with("SET\t"))
    return "PJL " + std::string(command);
  rest = Trim(rest.substr(4));
  return "PJL SET " + std::string(Trim(rest.substr(0, rest.find('='))));
}

struct Reader {
  // Each key's feature and when it was last chosen: the order the device meets them in.
  std::map<std::string, std::pair<size_t, DriverFeature>> chosen;
  size_t chosenCount = 0;
  size_t options = 0;  // distinct options among them; PJL commands are bounded by the header's size
  bool inPjlHeader = true;
  int pages = 0;
  bool done = false;

  void Choose(const std::string& key, std::string option, std::string choice) {
    auto it = chosen.find(key);
    if (it == chosen.end()) {
      if (!option.empty() && options++ >= kMostFeatureOptions)
        return;
      it = chosen.emplace(key, std::pair<size_t, DriverFeature>()).first;
    }
    it->second = {chosenCount++, {std::move(option), std::move(choice)}};
  }

  std::vector<DriverFeature> Features() {
    std::vector<std::pair<size_t, DriverFeature>> ordered;
    ordered.reserve(chosen.size());
    for (auto& [key, entry] : chosen)
      ordered.push_back(std::move(entry));
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<DriverFeature> features;
    features.reserve(ordered.size());
    for (auto& entry : ordered)
      features.push_back(std::move(entry.second));
    return features;
  }

  // A PJL header line may hold several commands once its <hex> line feeds are decoded.
  void PjlLine(std::string_view line) {
    const std::string decoded = DecodePpdHex(line);
    std::string_view rest = decoded;
    while (!rest.empty()) {
      size_t end = rest.find_first_of("\r\n");
      std::string_view command = Trim(rest.substr(0, end));
      if (command.starts_with("@PJL"))
        Choose(PjlKey(command), "", std::string(command));
      rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
    }
  }

  void Line(std::string_view line) {
    while (line.starts_with(kUniversalExit))
      line.remove_prefix(kUniversalExit.size());
    if (inPjlHeader) {
      if (line.starts_with("@PJL")) {
        PjlLine(line);
        return;
      }
      if (Trim(line).empty())
        return;
      inPjlHeader = false;
      // Features are PostScript comments: data in any other language (PCL) has none to read. A
      // control character (a driver's ^D) may come before PostScript's "%!".
      std::string_view start = line;
      while (!start.empty() && static_cast<unsigned char>(start.front()) < 0x20)
        start.remove_prefix(1);
      if (!start.starts_with("%!")) {
        done = true;
        return;
      }
    }
    for (std::string_view marker : kFeatureMarkers) {
      if (!line.starts_with(marker))
        continue;
      std::string_view rest = Trim(line.substr(marker.size()));
      if (!rest.starts_with('*'))
        return;
      size_t space = rest.find_first_of(" \t");
      std::string_view option = rest.substr(1, space == std::string_view::npos ? space : space - 1);
      std::string_view choice = space == std::string_view::npos ? "" : Trim(rest.substr(space));
      Choose("*" + std::string(option), std::string(option), std::string(choice));
      return;
    }
    if (line.starts_with("%%Page:"))
      done = ++pages > 1;
    else if (line.starts_with("%%EndPageSetup") || line.starts_with("%%Trailer") ||
             line.starts_with("%%EOF"))
      done = true;
  }
};

}  // namespace

std::vector<DriverFeature> ReadDriverFeatures(const std::string& path, size_t blockSize) {
  Reader reader;
  // The log folder is shared: a link or a FIFO put in the data file's place is neither followed
  // nor waited on.
  int fd = OpenNoFollow(path, O_RDONLY, 0);
  if (fd < 0)
    return {};
  size_t taken = 0;
  std::vector<char> block(std::max<size_t>(blockSize, 1));
  std::string line;
  bool cut = false;  // the line outgrew kLongestLine: the rest of it is skipped
  while (!reader.done) {
    ssize_t got = read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    taken += static_cast<size_t>(got);
    std::string_view bytes(block.data(), static_cast<size_t>(got));
    while (!bytes.empty() && !reader.done) {
      size_t feed = bytes.find('\n');
      std::string_view piece = bytes.substr(0, feed);
      if (!cut)
        line.append(piece.substr(0, kLongestLine - std::min(kLongestLine, line.size())));
      cut = line.size() >= kLongestLine;
      if (feed == std::string_view::npos)
        break;
      reader.Line(line);
      line.clear();
      cut = false;
      bytes.remove_prefix(feed + 1);
    }
    // A header that never ends: what it set so far stands.
    reader.done = reader.done || (reader.inPjlHeader && taken >= kLongestPjlHeader);
  }
  if (!reader.done && !line.empty())
    reader.Line(line);
  close(fd);
  return reader.Features();
}

}  // namespace vp
