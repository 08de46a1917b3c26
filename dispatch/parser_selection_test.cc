#include "dispatch/parser_selection.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace {

// Markers of every family, chosen so that each parser reads a different colour/duplex pair:
// KM Color/OneSided, HP Grayscale/TwoSided, Virtual Printer (none)/TwoSided, other
// Grayscale/OneSided.
const char kDriverOutput[] =
    "%!PS-Adobe-3.0\n"
    "%%Pages: 5\n"
    "%RBINumCopies: 4\n"
    "%%BeginFeature: *SelectColor Color\n"
    "%%BeginFeature: *Duplex DuplexTumble\n"
    "@PJL SET GRAYSCALE=ON\n"
    "%%BeginFeature: *KMDuplex Single\n";

using ParserSelection = ScratchDirTest;

TEST_F(ParserSelection, DriverFamilyChoosesTheParser) {
  struct Case {
    std::string extension, model;
    std::vector<std::string> logStart;
    std::string color, duplex;
  } cases[] = {
      {".ps", "unknown", {"using other parser"}, "Grayscale", "OneSided"},
      {".pjl", "unknown", {"using other parser"}, "Grayscale", "OneSided"},
      {".ps", "KONICA MINOLTA C300i", {"using KM driver parser"}, "Color", "OneSided"},
      {".pjl",
       "KONICA MINOLTA HP Virtual Printer",
       {"using KM driver parser"},
       "Color",
       "OneSided"},
      {".ps", "Konica Minolta C300i", {"using other parser"}, "Grayscale", "OneSided"},
      {".pjl", "HP LaserJet", {"using HP driver parser"}, "Grayscale", "TwoSided"},
      {".ps", "HP Virtual Printer Color", {"using HP driver parser"}, "Grayscale", "TwoSided"},
      {".ps", "hp laserjet", {"using other parser"}, "Grayscale", "OneSided"},
      {".ps",
       "Virtual Printer",
       {"using Virtual Printer driver parser", "driver contain Grayscale"},
       "",
       "TwoSided"},
      {".pjl",
       "Virtual Printer colorful",
       {"using Virtual Printer driver parser", "driver contain Color"},
       "",
       "TwoSided"},
      {".ps", "virtual printer", {"using other parser"}, "Grayscale", "OneSided"},
  };
  for (const Case& c : cases) {
    std::string where = c.extension + " " + c.model;
    std::string path = Write(kDriverOutput, c.extension);
    std::ostringstream log;
    ::testing::internal::CaptureStdout();
    JobInfo job = SelectParser(log, c.extension, path, c.model, "Title", 7);
    ::testing::internal::GetCapturedStdout();

    std::vector<std::string> messages = Unstamped(log.str());
    std::vector<std::string> expected = {"begin parser file"};
    expected.insert(expected.end(), c.logStart.begin(), c.logStart.end());
    ASSERT_GE(messages.size(), expected.size()) << where;
    messages.resize(expected.size());
    EXPECT_EQ(messages, expected) << where;
    // Nothing of the defaults survives a parser run.
    EXPECT_EQ(job.color, c.color) << where;
    EXPECT_EQ(job.duplex, c.duplex) << where;
    EXPECT_EQ(job.pages, "5") << where;
    EXPECT_EQ(job.copies, "4") << where;
    EXPECT_EQ(job.documentName, "") << where;
  }
}

TEST_F(ParserSelection, PdfKeepsDefaultsAndTakesColourFromModel) {
  struct Case {
    std::string model;
    int copies;
    std::string color, copiesText, colourLine;
  } cases[] = {
      {"unknown", 3, "Grayscale", "3", "driver contain Grayscale"},
      {"HP Color LaserJet", 1, "Color", "1", "driver contain Color"},
      {"COLORFUL", 0, "Color", "0", "driver contain Color"},
      {"Colour Laser", 12, "Grayscale", "12", "driver contain Grayscale"},
      {"KONICA MINOLTA", 2, "Grayscale", "2", "driver contain Grayscale"},
  };
  for (const Case& c : cases) {
    std::string path = Write(kDriverOutput, ".pdf");
    std::ostringstream log;
    JobInfo job = SelectParser(log, ".pdf", path, c.model, "My Report", c.copies);
    EXPECT_EQ(
        Unstamped(log.str()),
        (std::vector<std::string>{"begin parser file", "using pdf driver parser", c.colourLine}))
        << c.model;
    EXPECT_EQ(job.color, c.color) << c.model;
    EXPECT_EQ(job.duplex, "OneSided") << c.model;
    EXPECT_EQ(job.pages, "1") << c.model;
    EXPECT_EQ(job.copies, c.copiesText) << c.model;
    EXPECT_EQ(job.documentName, "My Report") << c.model;
    EXPECT_EQ(job.binding, "") << c.model;
  }
}

}  // namespace
