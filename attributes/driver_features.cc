#include "attributes/driver_features.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "attributes/ppd_file.h"

namespace {

constexpr size_t kLongestLine = 4096;
constexpr std::string_view kUniversalExit = "\x1b%-12345X";
constexpr std::string_view kFeatureMarkers[] = {"%%BeginFeature:", "%%IncludeFeature:"};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

struct Reader {
  std::vector<DriverFeature> features;
  bool inPjlHeader = true;
  int pages = 0;
  bool done = false;

  void Choose(std::string option, std::string choice) {
    if (!option.empty()) {
      std::erase_if(features, [&](const DriverFeature& f) { return f.option == option; });
    }
    features.push_back({std::move(option), std::move(choice)});
  }

  // A PJL header line may hold several commands once its <hex> line feeds are decoded.
  void PjlLine(std::string_view line) {
    const std::string decoded = DecodePpdHex(line);
    std::string_view rest = decoded;
    while (!rest.empty()) {
      size_t end = rest.find_first_of("\r\n");
      std::string_view command = Trim(rest.substr(0, end));
      if (command.starts_with("@PJL"))
        Choose("", std::string(command));
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
      Choose(std::string(option), std::string(choice));
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
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return reader.features;
  std::vector<char> block(std::max<size_t>(blockSize, 1));
  std::string line;
  bool cut = false;  // the line outgrew kLongestLine: the rest of it is skipped
  while (!reader.done) {
    ssize_t got = read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
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
  }
  if (!reader.done && !line.empty())
    reader.Line(line);
  close(fd);
  return reader.features;
}
