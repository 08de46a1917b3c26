// The marker scan of one driver family (VP_FAMILY: 0 generic, 1 Quoradex driver, 2 HP, 3 KONICA
// MINOLTA) on any print data written to a file. The block scanner must give what a plain reading
// of the data line by line gives: the same fields, the same reports on standard output and in the
// job log. The family's parser runs as the backend calls it, and the scan runs again with a tiny
// block (the first input byte chooses it) so that markers and lines straddle every block edge.

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "attributes/marker_scan.h"
#include "attributes/print_file_parsers.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

#ifndef VP_FAMILY
#error "VP_FAMILY selects the driver family"
#endif

namespace {

constexpr std::string_view kRgb[] = {"RGB"};
constexpr std::string_view kRgbOrCmyk[] = {"RGB", "CMYK"};
constexpr std::string_view kOff[] = {"OFF"};
constexpr std::string_view kColor[] = {"Color"};
constexpr std::string_view kNone[] = {"None"};
constexpr std::string_view kSingle[] = {"Single"};

constexpr Rule kColorModel{kRgb, "Color", "Grayscale"};
constexpr Rule kAnyColorModel{kRgbOrCmyk, "Color", "Grayscale"};
constexpr Rule kGrayscale{kOff, "Color", "Grayscale"};
constexpr Rule kSelectColor{kColor, "Color", "Grayscale"};
constexpr Rule kDuplex{kNone, "OneSided", "TwoSided"};
constexpr Rule kKMDuplex{kSingle, "OneSided", "TwoSided"};

// The families' tables as the drivers' documentation gives them.
constexpr Marker kOther[] = {
    {"%%Pages: ", &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {"%RBINumCopies: ", &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {"%%BeginFeature: *ColorModel ", &JobInfo::color, kAnyColorModel, Report::kJobLog,
     "color_temp-QX"},
    {"@PJL SET GRAYSCALE=", &JobInfo::color, kGrayscale, Report::kJobLog, "color_temp-HP"},
    {"%%BeginFeature: *SelectColor ", &JobInfo::color, kSelectColor, Report::kJobLog,
     "color_temp-KM"},
    {"%%BeginFeature: *Duplex ", &JobInfo::duplex, kDuplex, Report::kJobLog, "duplex_temp-QX"},
    {"%%BeginFeature: *Duplex ", &JobInfo::duplex, kDuplex, Report::kJobLog, "duplex_temp-HP"},
    {"%%BeginFeature: *KMDuplex ", &JobInfo::duplex, kKMDuplex, Report::kJobLog, "duplex_temp-KM"},
};

constexpr Marker kQuoradex[] = {
    {"%%Pages: ", &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {"%RBINumCopies: ", &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {"%%BeginFeature: *ColorModel ", &JobInfo::color, kColorModel, Report::kStdout, "color_temp:"},
    {"%%BeginFeature: *Duplex ", &JobInfo::duplex, kDuplex, Report::kStdout, "duplex_temp:"},
};

constexpr Marker kHP[] = {
    {"%%Pages: ", &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {"%RBINumCopies: ", &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {"@PJL SET GRAYSCALE=", &JobInfo::color, kGrayscale, Report::kStdout, "color_temp:"},
    {"%%BeginFeature: *Duplex ", &JobInfo::duplex, kDuplex, Report::kStdout, "duplex_temp:"},
};

constexpr Marker kKM[] = {
    {"%%Pages: ", &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {"%RBINumCopies: ", &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {"%%BeginFeature: *SelectColor ", &JobInfo::color, kSelectColor, Report::kStdout,
     "color_temp:"},
    {"%%BeginFeature: *KMDuplex ", &JobInfo::duplex, kKMDuplex, Report::kStdout, "duplex_temp:"},
};

struct Family {
  std::span<const Marker> markers;
  JobInfo (*parse)(std::ostream& log, const std::string& path);
};

const Family kFamilies[] = {
    {kOther,
     [](std::ostream& log, const std::string& path) { return GetPrintFile_Other(log, path); }},
    {kQuoradex, [](std::ostream&, const std::string& path) { return GetPrintFile_Quoradex(path); }},
    {kHP, [](std::ostream&, const std::string& path) { return GetPrintFile_HP(path); }},
    {kKM, [](std::ostream&, const std::string& path) { return GetPrintFile_KM(path); }},
};

const Family& kFamily = kFamilies[VP_FAMILY];

struct Outcome {
  JobInfo info;
  std::string out;  // standard output
  std::string log;  // job log, stamps removed
};

// Every line, the last one even when empty, as reading up to each line feed gives them.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines(1);
  for (char c : bytes) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

bool AllDigits(const std::string& value) {
  for (char c : value) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

// A count is stored as its number; one that is not all digits or does not fit a signed 32-bit
// integer is passed over.
bool CountOf(const std::string& value, std::string& count) {
  if (!AllDigits(value))
    return false;
  size_t first = value.find_first_not_of('0');
  count = first == std::string::npos ? "0" : value.substr(first);
  return count.size() < 10 || (count.size() == 10 && count <= "2147483647");
}

std::string NameOf(const Rule& rule, const std::string& value) {
  for (std::string_view name : rule.names) {
    if (value == name)
      return std::string(rule.onMatch);
  }
  return std::string(rule.otherwise);
}

Outcome Expected(const std::string& bytes) {
  Outcome o;
  for (const std::string& line : Lines(bytes)) {
    for (const Marker& m : kFamily.markers) {
      size_t at = line.find(m.text);
      if (at == std::string::npos)
        continue;
      std::string value = line.substr(at + m.text.size());
      const bool count = m.rule.names.empty();
      std::string field;
      if (count && !CountOf(value, field))
        continue;
      if (!count)
        field = NameOf(m.rule, value);
      if (m.report == Report::kStdout)
        o.out += std::string(m.label) + value + "\n";
      else
        o.log += std::string(m.label) + ":" + value + "\n";
      o.info.*m.field = field;
    }
  }
  return o;
}

template <typename Scan>
Outcome Observed(Scan scan) {
  Outcome o;
  std::ostringstream out, log;
  std::streambuf* saved = std::cout.rdbuf(out.rdbuf());
  o.info = scan(log);
  std::cout.rdbuf(saved);
  o.out = out.str();
  o.log = Unstamped(log.str());
  return o;
}

bool Same(const Outcome& a, const Outcome& b) {
  const JobInfo& x = a.info;
  const JobInfo& y = b.info;
  return x.color == y.color && x.pages == y.pages && x.duplex == y.duplex &&
         x.binding == y.binding && x.copies == y.copies && x.documentName == y.documentName &&
         x.paper == y.paper && x.orientation == y.orientation && x.driverName == y.driverName &&
         a.out == b.out && a.log == b.log;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  static MemoryFile file;
  const size_t block = 1 + data[0] % 64;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  Require(file.write(bytes), "the print data is written");
  const std::string path = file.path();
  Outcome expected = Expected(bytes);
  Require(Same(Observed([&](std::ostream& log) { return kFamily.parse(log, path); }), expected),
          "the family's parser reads what the lines say");
  Require(Same(Observed([&](std::ostream& log) {
                 return ScanMarkers(log, path, kFamily.markers, block);
               }),
               expected),
          "a small block changes nothing");
  return 0;
}
