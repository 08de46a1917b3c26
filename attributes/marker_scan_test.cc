#include "attributes/marker_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "tests/support/scratch_dir.h"
#include "util/job_log.h"

namespace vp {

namespace {

using ScanFiles = ScratchDirTest;

// The job log without its time stamps, one "key:value" per line.
std::string Unstamped(const std::string& log) {
  std::string lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    lines += line.substr(getCurrentTimeStr().size() + 1) + '\n';
  }
  return lines;
}

struct Outcome {
  JobInfo info;
  std::string out;
  std::string log;
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.info.pages == b.info.pages && a.info.copies == b.info.copies &&
         a.info.color == b.info.color && a.info.duplex == b.info.duplex && a.out == b.out &&
         a.log == b.log;
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "pages=" << testing::PrintToString(o.info.pages)
            << " copies=" << testing::PrintToString(o.info.copies)
            << " color=" << testing::PrintToString(o.info.color)
            << " duplex=" << testing::PrintToString(o.info.duplex)
            << " out=" << testing::PrintToString(o.out.substr(0, 200))
            << " log=" << testing::PrintToString(o.log.substr(0, 200));
}

Outcome Scan(const std::string& path, std::span<const Marker> markers, size_t blockSize) {
  std::ostringstream log;
  testing::internal::CaptureStdout();
  Outcome o;
  o.info = ScanMarkers(log, path, markers, blockSize);
  o.out = testing::internal::GetCapturedStdout();
  o.log = Unstamped(log.str());
  return o;
}

// The plainest reading of the rules, on the whole text split at line feeds: what the block scan
// has to reproduce whatever its block size.
Outcome LineByLine(const std::string& content, std::span<const Marker> markers) {
  Outcome o;
  size_t start = 0;
  for (bool last = false; !last;) {
    size_t feed = content.find('\n', start);
    last = feed == std::string::npos;
    const std::string line = content.substr(start, last ? std::string::npos : feed - start);
    start = feed + 1;
    for (const Marker& m : markers) {
      const size_t at = line.find(m.text);
      if (at == std::string::npos) {
        continue;
      }
      const std::string value = line.substr(at + m.text.size());
      std::string result;
      if (m.rule.names.empty()) {
        std::optional<std::string> count = CountValue(value);
        if (!count) {
          continue;
        }
        result = *count;
      } else {
        bool named = false;
        for (std::string_view name : m.rule.names) {
          named = named || value == name;
        }
        result = named ? m.rule.onMatch : m.rule.otherwise;
      }
      (m.report == Report::kStdout ? o.out : o.log) +=
          std::string(m.label) + (m.report == Report::kStdout ? "" : ":") + value + '\n';
      o.info.*m.field = result;
    }
  }
  return o;
}

constexpr std::string_view kOn[] = {"ON", "Y"};
constexpr std::string_view kOne[] = {"N"};
constexpr Rule kOnRule{kOn, "Color", "Grayscale"};
constexpr Rule kOneRule{kOne, "OneSided", "TwoSided"};

// Short markers so random text hits them often: overlapping starts ("%%D " inside "%%%D "), a
// duplicated text with two labels, two markers for one field, both report channels.
constexpr Marker kTestMarkers[] = {
    {"%P:", &JobInfo::pages, kCountRule, Report::kStdout, "p:"},
    {"%K", &JobInfo::copies, kCountRule, Report::kStdout, "k:"},
    {"@C=", &JobInfo::color, kOnRule, Report::kJobLog, "c"},
    {"%%D ", &JobInfo::duplex, kOneRule, Report::kJobLog, "d1"},
    {"%%D ", &JobInfo::duplex, kOneRule, Report::kJobLog, "d2"},
    {"%%Long duplex marker ", &JobInfo::duplex, kOneRule, Report::kStdout, "long:"},
    {"@C2=", &JobInfo::color, kOnRule, Report::kStdout, "c2:"},
};

std::string RandomText(unsigned seed, size_t pieces) {
  static const std::string kPieces[] = {"%P:",
                                        "%K",
                                        "@C=",
                                        "%%D ",
                                        "%%Long duplex marker ",
                                        "@C2=",
                                        "ON",
                                        "Y",
                                        "N",
                                        "12",
                                        "007",
                                        "0",
                                        "9",
                                        "2147483648",
                                        "\n",
                                        "\n",
                                        "\r\n",
                                        " ",
                                        "x",
                                        "abc",
                                        "%",
                                        "@",
                                        "%%",
                                        "=",
                                        ":",
                                        "D",
                                        std::string(1, '\0'),
                                        "\xff"};
  std::mt19937 random(seed);
  std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    text += kPieces[pick(random)];
  }
  return text;
}

TEST(CountRule, AcceptsDigitsThatFitASigned32BitInteger) {
  struct Case {
    std::string value;
    bool allDigits;
    std::optional<std::string> count;
  } cases[] = {
      {"", true, "0"},
      {"0", true, "0"},
      {"000", true, "0"},
      {"007", true, "7"},
      {"42", true, "42"},
      {"2147483647", true, "2147483647"},
      {"0002147483647", true, "2147483647"},
      {"2147483648", true, std::nullopt},
      {"9999999999", true, std::nullopt},
      {"10000000000", true, std::nullopt},
      {"3 1", false, std::nullopt},
      {"3 ", false, std::nullopt},
      {"3\r", false, std::nullopt},
      {"-1", false, std::nullopt},
      {"+1", false, std::nullopt},
      {"(atend)", false, std::nullopt},
      {std::string("1\0", 2), false, std::nullopt},
      {"\xd9\xa3", false, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllisNum(c.value), c.allDigits) << testing::PrintToString(c.value);
    EXPECT_EQ(CountValue(c.value), c.count) << testing::PrintToString(c.value);
  }
}

TEST_F(ScanFiles, AnyBlockSizeReadsLikeLineByLine) {
  const size_t blockSizes[] = {1, 2, 3, 5, 8, 21, 64, 4096, kScanBlockSize};
  for (unsigned seed = 1; seed <= 12; ++seed) {
    const std::string content = RandomText(seed, 3000);
    const std::string path = Write(content);
    const Outcome expected = LineByLine(content, kTestMarkers);
    for (size_t blockSize : blockSizes) {
      EXPECT_EQ(Scan(path, kTestMarkers, blockSize), expected)
          << "seed " << seed << ", block " << blockSize;
    }
  }
}

TEST_F(ScanFiles, LongLinesAndBlockBoundariesReadLikeLineByLine) {
  const std::string megabyte(kScanBlockSize, 'x');
  std::string binary;
  std::mt19937 random(7);
  while (binary.size() < 3 * kScanBlockSize) {
    const char byte = static_cast<char>(random());
    binary += byte == '\n' ? ' ' : byte;
  }
  std::vector<std::string> contents = {
      binary + "%P:7\n@C=ON",
      "%P:" + binary,
      "%P:" + std::string(2 * kScanBlockSize + 5, '0') + "42\n%K3",
      "%%D N\r\n" + binary + "%%D N\n" + binary + "\n%P:5",
      binary + "\n" + binary + "%%Long duplex marker N",
  };
  for (size_t offset = kScanBlockSize - 22; offset <= kScanBlockSize + 1; ++offset) {
    contents.push_back(megabyte.substr(0, offset) +
                       "%%Long duplex marker N\n%P:" + std::to_string(offset));
    contents.push_back(megabyte.substr(0, offset - 1) + "\n%%Long duplex marker Y");
  }
  for (const std::string& content : contents) {
    const Outcome expected = LineByLine(content, kTestMarkers);
    EXPECT_EQ(Scan(Write(content), kTestMarkers, kScanBlockSize), expected)
        << "content of " << content.size() << " bytes";
  }
}

TEST_F(ScanFiles, UnreadableFileGivesEmptyRecordAndNoReport) {
  const std::string paths[] = {dir_ + "missing", dir_, ""};
  for (const std::string& path : paths) {
    const Outcome o = Scan(path, kTestMarkers, kScanBlockSize);
    EXPECT_EQ(o, Outcome{}) << path;
    EXPECT_TRUE(o.info.documentName.empty() && o.info.driverName.empty());
  }
}

TEST_F(ScanFiles, EmptyFileAndEmptyTableFindNothing) {
  const std::string path = Write("%P:1\n@C=ON\n");
  EXPECT_EQ(Scan(path, {}, kScanBlockSize), Outcome{});
  EXPECT_EQ(Scan(Write(""), kTestMarkers, kScanBlockSize), Outcome{});
}

}  // namespace

}  // namespace vp
