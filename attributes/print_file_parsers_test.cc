#include "attributes/print_file_parsers.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "attributes/marker_scan.h"
#include "tests/support/scratch_dir.h"
#include "util/job_log.h"

namespace vp {

namespace {

using Parser = std::function<JobInfo(std::ostream&, const std::string&)>;

const Parser kOther = [](std::ostream& log, const std::string& path) {
  return GetPrintFile_Other(log, path);
};
const Parser kQuoradex = [](std::ostream&, const std::string& path) {
  return GetPrintFile_Quoradex(path);
};
const Parser kHP = [](std::ostream&, const std::string& path) { return GetPrintFile_HP(path); };
const Parser kKM = [](std::ostream&, const std::string& path) { return GetPrintFile_KM(path); };

struct Expected {
  std::string pages, copies, color, duplex;
  std::string out;  // standard output
  std::string log;  // job log lines without their time stamps
};

struct Case {
  const char* name;
  const Parser* parser;
  std::string content;
  Expected expected;
};

class PrintFileParsers : public ScratchDirTest {
 protected:
  void Check(const Case& c, const std::string& path) {
    SCOPED_TRACE(c.name);
    std::ostringstream log;
    const std::string stamp = getCurrentTimeStr() + ' ';
    log << stamp << "before\n";
    testing::internal::CaptureStdout();
    const JobInfo info = (*c.parser)(log, path);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(info.pages, c.expected.pages);
    EXPECT_EQ(info.copies, c.expected.copies);
    EXPECT_EQ(info.color, c.expected.color);
    EXPECT_EQ(info.duplex, c.expected.duplex);
    EXPECT_EQ(info.binding + info.documentName + info.paper + info.orientation + info.driverName,
              "");
    EXPECT_EQ(out, c.expected.out);
    std::istringstream lines(log.str());
    std::string unstamped;
    for (std::string line; std::getline(lines, line);) {
      ASSERT_GT(line.size(), stamp.size());
      EXPECT_EQ(line[stamp.size() - 1], ' ');
      unstamped += line.substr(stamp.size()) + '\n';
    }
    EXPECT_EQ(unstamped, "before\n" + c.expected.log);
  }
};

const std::string kNul(1, '\0');

TEST_F(PrintFileParsers, GenericParserReadsEveryFamilysMarkers) {
  const Case cases[] = {
      {"atend then count",
       &kOther,
       "%!PS\n%%Pages: (atend)\nx\n%%Pages: 3\n",
       {"3", "", "", "", "pages_temp:3\n", ""}},
      {"last hit wins",
       &kOther,
       "%%Pages: 3\n%%Pages: 5\n",
       {"5", "", "", "", "pages_temp:3\npages_temp:5\n", ""}},
      {"count with a space", &kOther, "%%Pages: 3 1\n", {"", "", "", "", "", ""}},
      {"leading zeros", &kOther, "%%Pages: 007\n", {"7", "", "", "", "pages_temp:007\n", ""}},
      {"empty count", &kOther, "%%Pages: \n", {"0", "", "", "", "pages_temp:\n", ""}},
      {"marker mid-line", &kOther, "xx%%Pages: 4\n", {"4", "", "", "", "pages_temp:4\n", ""}},
      {"first occurrence on a line", &kOther, "%%Pages: 2 %%Pages: 3\n", {"", "", "", "", "", ""}},
      {"largest count",
       &kOther,
       "%%Pages: 0002147483647\n%RBINumCopies: 2147483648\n",
       {"2147483647", "", "", "", "pages_temp:0002147483647\n", ""}},
      {"overflow keeps earlier count",
       &kOther,
       "%RBINumCopies: 2\n%RBINumCopies: 99999999999\n%RBINumCopies: -1\n",
       {"", "2", "", "", "copies_temp:2\n", ""}},
      {"CRLF lines",
       &kOther,
       "%%Pages: 3\r\n%RBINumCopies: 2\r\n%%BeginFeature: *Duplex None\r\n",
       {"", "", "", "TwoSided", "", "duplex_temp-QX:None\r\nduplex_temp-HP:None\r\n"}},
      {"ColorModel CMYK",
       &kOther,
       "%%BeginFeature: *ColorModel CMYK\n",
       {"", "", "Color", "", "", "color_temp-QX:CMYK\n"}},
      {"ColorModel Gray",
       &kOther,
       "%%BeginFeature: *ColorModel Gray\n",
       {"", "", "Grayscale", "", "", "color_temp-QX:Gray\n"}},
      {"PJL grayscale off",
       &kOther,
       "@PJL SET GRAYSCALE=OFF\n",
       {"", "", "Color", "", "", "color_temp-HP:OFF\n"}},
      {"PJL grayscale on",
       &kOther,
       "@PJL SET GRAYSCALE=ON\n",
       {"", "", "Grayscale", "", "", "color_temp-HP:ON\n"}},
      {"PJL spaced equals", &kOther, "@PJL SET GRAYSCALE = OFF\n", {"", "", "", "", "", ""}},
      {"KM single",
       &kOther,
       "%%BeginFeature: *KMDuplex Single\n",
       {"", "", "", "OneSided", "", "duplex_temp-KM:Single\n"}},
      {"KM switch off",
       &kOther,
       "%%BeginFeature: *KMDuplex False\n",
       {"", "", "", "OneSided", "", "duplex_temp-KM:False\n"}},
      {"KM double",
       &kOther,
       "%%BeginFeature: *KMDuplex Double\n",
       {"", "", "", "TwoSided", "", "duplex_temp-KM:Double\n"}},
      {"duplex None",
       &kOther,
       "%%BeginFeature: *Duplex None\n",
       {"", "", "", "OneSided", "", "duplex_temp-QX:None\nduplex_temp-HP:None\n"}},
      {"later family decides",
       &kOther,
       "%%BeginFeature: *ColorModel RGB\n%%BeginFeature: *SelectColor Grayscale\n",
       {"", "", "Grayscale", "", "", "color_temp-QX:RGB\ncolor_temp-KM:Grayscale\n"}},
      {"table order decides on one line",
       &kOther,
       "%%BeginFeature: *SelectColor X%%BeginFeature: *ColorModel RGB\n",
       {"", "", "Grayscale", "", "",
        "color_temp-QX:RGB\ncolor_temp-KM:X%%BeginFeature: *ColorModel RGB\n"}},
      {"NUL bytes stay in values",
       &kOther,
       kNul + "%%Pages: 6\n%%BeginFeature: *ColorModel RGB" + kNul + "\n",
       {"6", "", "Grayscale", "", "pages_temp:6\n", "color_temp-QX:RGB" + kNul + "\n"}},
      {"no final line feed",
       &kOther,
       "%%Pages: 1\n%%Pages: 9",
       {"9", "", "", "", "pages_temp:1\npages_temp:9\n", ""}},
      {"no markers", &kOther, "%!PS-Adobe-3.0\nshowpage\n", {"", "", "", "", "", ""}},
      {"empty file", &kOther, "", {"", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    Check(c, Write(c.content, ".ps"));
  }
}

TEST_F(PrintFileParsers, FamilyParsersReadOnlyTheirMarkersAndNeverTheLog) {
  const std::string allFamilies =
      "%%BeginFeature: *ColorModel CMYK\n@PJL SET GRAYSCALE=OFF\n"
      "%%BeginFeature: *SelectColor Color\n%%BeginFeature: *Duplex None\n"
      "%%BeginFeature: *KMDuplex Double\n";
  const Case cases[] = {
      {"Quoradex RGB",
       &kQuoradex,
       "%%BeginFeature: *ColorModel RGB\n",
       {"", "", "Color", "", "color_temp:RGB\n", ""}},
      {"Quoradex CMYK",
       &kQuoradex,
       "%%BeginFeature: *ColorModel CMYK\n",
       {"", "", "Grayscale", "", "color_temp:CMYK\n", ""}},
      {"Quoradex empty colour",
       &kQuoradex,
       "%%BeginFeature: *ColorModel \n",
       {"", "", "Grayscale", "", "color_temp:\n", ""}},
      {"Quoradex None",
       &kQuoradex,
       "%%BeginFeature: *Duplex None\n",
       {"", "", "", "OneSided", "duplex_temp:None\n", ""}},
      {"Quoradex tumble",
       &kQuoradex,
       "%%BeginFeature: *Duplex DuplexTumble\n",
       {"", "", "", "TwoSided", "duplex_temp:DuplexTumble\n", ""}},
      {"Quoradex copies",
       &kQuoradex,
       "%RBINumCopies: 2\n%%Pages: 4\n",
       {"4", "2", "", "", "copies_temp:2\npages_temp:4\n", ""}},
      {"Quoradex copies with space", &kQuoradex, "%RBINumCopies: 2 \n", {"", "", "", "", "", ""}},
      {"Quoradex all families",
       &kQuoradex,
       allFamilies,
       {"", "", "Grayscale", "OneSided", "color_temp:CMYK\nduplex_temp:None\n", ""}},
      {"HP off", &kHP, "@PJL SET GRAYSCALE=OFF\n", {"", "", "Color", "", "color_temp:OFF\n", ""}},
      {"HP on", &kHP, "@PJL SET GRAYSCALE=ON\n", {"", "", "Grayscale", "", "color_temp:ON\n", ""}},
      {"HP off CRLF",
       &kHP,
       "@PJL SET GRAYSCALE=OFF\r\n",
       {"", "", "Grayscale", "", "color_temp:OFF\r\n", ""}},
      {"HP ignores ColorModel",
       &kHP,
       "%%BeginFeature: *ColorModel RGB\n",
       {"", "", "", "", "", ""}},
      {"HP duplex",
       &kHP,
       "%%BeginFeature: *Duplex DuplexNoTumble\n%%Pages: 2\n",
       {"2", "", "", "TwoSided", "duplex_temp:DuplexNoTumble\npages_temp:2\n", ""}},
      {"HP all families",
       &kHP,
       allFamilies,
       {"", "", "Color", "OneSided", "color_temp:OFF\nduplex_temp:None\n", ""}},
      {"KM color",
       &kKM,
       "%%BeginFeature: *SelectColor Color\n",
       {"", "", "Color", "", "color_temp:Color\n", ""}},
      {"KM auto",
       &kKM,
       "%%BeginFeature: *SelectColor Auto\n",
       {"", "", "Grayscale", "", "color_temp:Auto\n", ""}},
      {"KM single",
       &kKM,
       "%%BeginFeature: *KMDuplex Single\n",
       {"", "", "", "OneSided", "duplex_temp:Single\n", ""}},
      {"KM switch off",
       &kKM,
       "%%BeginFeature: *KMDuplex False\n",
       {"", "", "", "OneSided", "duplex_temp:False\n", ""}},
      {"KM switch on",
       &kKM,
       "%%BeginFeature: *KMDuplex True\n",
       {"", "", "", "TwoSided", "duplex_temp:True\n", ""}},
      {"KM booklet",
       &kKM,
       "%%BeginFeature: *KMDuplex Booklet\n",
       {"", "", "", "TwoSided", "duplex_temp:Booklet\n", ""}},
      {"KM ignores plain duplex",
       &kKM,
       "%%BeginFeature: *KMDuplex Single\n%%BeginFeature: *Duplex DuplexTumble\n",
       {"", "", "", "OneSided", "duplex_temp:Single\n", ""}},
      {"KM all families",
       &kKM,
       allFamilies,
       {"", "", "Color", "TwoSided", "color_temp:Color\nduplex_temp:Double\n", ""}},
  };
  for (const Case& c : cases) {
    Check(c, Write(c.content, ".ps"));
  }
}

TEST_F(PrintFileParsers, LongLinesAndBlockBoundariesKeepEveryHit) {
  const std::string junk(kScanBlockSize + kScanBlockSize / 2, '%');
  const std::string zeros(2 * kScanBlockSize, '0');
  const std::string pad(kScanBlockSize - 4, 'x');
  const Case cases[] = {
      {"marker after a long line",
       &kOther,
       junk + "\n%%Pages: 8\n",
       {"8", "", "", "", "pages_temp:8\n", ""}},
      {"marker at the end of a long line",
       &kHP,
       junk + "@PJL SET GRAYSCALE=OFF",
       {"", "", "Color", "", "color_temp:OFF\n", ""}},
      {"value longer than a block",
       &kKM,
       "%%Pages: " + zeros + "12\r\n%%Pages: " + zeros + "5",
       {"5", "", "", "", "pages_temp:" + zeros + "5\n", ""}},
      {"marker across the first block",
       &kQuoradex,
       pad + "%%Pages: 12\n",
       {"12", "", "", "", "pages_temp:12\n", ""}},
      {"line across the first block",
       &kOther,
       pad + "\n%%BeginFeature: *KMDuplex Single",
       {"", "", "", "OneSided", "", "duplex_temp-KM:Single\n"}},
  };
  for (const Case& c : cases) {
    Check(c, Write(c.content, ".ps"));
  }
}

TEST_F(PrintFileParsers, MissingFileGivesEmptyRecordWithoutReport) {
  for (const Parser* parser : {&kOther, &kQuoradex, &kHP, &kKM}) {
    Check({"missing file", parser, "", {}}, dir_ + "missing.ps");
  }
}

}  // namespace

}  // namespace vp
