// The whole dispatch road through the real program: parser choice, job summary, control file and
// the PJL envelope of PDF jobs.

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/e2e/backend_runner.h"
#include "tests/support/test_pdf.h"

namespace vp {

namespace {

constexpr char kUuid[] = "5d1c0e4e-6d0b-3a4c-7b7e-1a2b3c4d5e6f";

class Dispatch : public testing::Test {
 protected:
  void SetUp() override { ResetSandbox(); }
};

// True when `expected` appear in `lines` in this order (other lines may come between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  size_t next = 0;
  for (const std::string& line : lines) {
    if (next < expected.size() && line == expected[next])
      ++next;
  }
  return next == expected.size();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

TEST_F(Dispatch, PdfJobFromStandardInputIsSummarisedAndWrapped) {
  const std::string pdf = MakePdf(3) + "%" + std::string(2000, 'p') + "\n";
  BackendCall call;
  call.args = {"7", "alice", "Quarterly Report", "2",
               std::string("job-uuid=urn:uuid:") + kUuid +
                   " PageSize=A4 com.apple.print.PrintSettings.PMColorSpaceModel..n.=2"
                   " com.apple.print.PrintSettings.PMDuplexing..n.=3"};
  call.env = CupsEnvironment("Generic PDF Printer");
  call.stdinData = pdf;
  RunBackend(call);

  EXPECT_EQ(ReadFile(LogDir() + kUuid + ".ctl"),
            std::string("DataFile:") + kUuid +
                ".pdf\nDocumentName:Quarterly Report\nAllPage:3\nCopyCount:2\nPaper:A4\n"
                "Color:Color\nDuplexing:TwoSided\nPageOrientation:Portrait\n"
                "DriverName:Generic PDF Printer\n");
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  EXPECT_TRUE(
      InOrder(log, {"begin parser file", "using pdf driver parser", "driver contain Grayscale",
                    "parser pagecount:3", "DocumentName:Quarterly Report", "AllPage:3",
                    "CopyCount:2", "Paper:A4", "Color:Color", "Duplexing:TwoSided",
                    "PageOrientation:Portrait", "DriverName:Generic PDF Printer",
                    "tbytes:" + std::to_string(pdf.size() - 1024), "Processing pdf"}))
      << Joined(log);
  EXPECT_EQ(ReadFile(LogDir() + kUuid + ".pdf"),
            "\x1b%-12345X@PJL JOB NAME=Quarterly Report\n@PJL SET QTY=2\n"
            "@PJL SET BINDING=SHORTEDGE\n@PJL SET DUPLEX=ON\n@PJL ENTER LANGUAGE=PDF\n" +
                pdf + "\x1b%-12345X@PJL EOJ+\n%-12345X");
  EXPECT_FALSE(FileExists(LogDir() + kUuid + ".pdf.tmp"));
}

TEST_F(Dispatch, OneSidedPdfWithoutOptionsKeepsTheDefaults) {
  const std::string pdf = MakePdf(1);
  BackendCall call;
  call.args = {"8", "bob", "", "abc", "PageSize=Legal NupOrient=Landscape"};
  call.env = CupsEnvironment("Colorful Inkjet");
  call.stdinData = pdf;
  RunBackend(call);
  EXPECT_EQ(ReadFile(LogDir() + ".ctl"),
            "DataFile:.pdf\nDocumentName:\nAllPage:1\nCopyCount:0\nPaper:Le\nColor:Color\n"
            "Duplexing:OneSided\nPageOrientation:Landscape\nDriverName:Colorful Inkjet\n");
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  EXPECT_TRUE(
      InOrder(log, {"driver contain Color", "Paper-original::Legal", "Paper:Le", "tbytes:0"}))
      << Joined(log);
  EXPECT_EQ(ReadFile(LogDir() + ".pdf"),
            "\x1b%-12345X@PJL JOB NAME=\n@PJL SET QTY=0\n@PJL SET DUPLEX=OFF\n"
            "@PJL ENTER LANGUAGE=PDF\n" +
                pdf + "\x1b%-12345X@PJL EOJ+\n%-12345X");
}

TEST_F(Dispatch, EachDriverFamilyPicksItsParser) {
  const std::string postscript =
      "%!PS-Adobe-3.0\r\n"
      "%%Pages: (atend)\n"
      "%RBINumCopies: 3\n"
      "%%BeginFeature: *ColorModel CMYK\n"
      "@PJL SET GRAYSCALE=OFF\n"
      "%%BeginFeature: *SelectColor Grayscale\n"
      "%%BeginFeature: *Duplex DuplexNoTumble\n"
      "%%BeginFeature: *KMDuplex Single\n"
      "%%Pages: 5\n";
  struct Case {
    const char* model;
    std::string parserLine, color, duplex;
  } cases[] = {
      {"KONICA MINOLTA C300i PS", "using KM driver parser", "Grayscale", "OneSided"},
      {"HP LaserJet 4250", "using HP driver parser", "Color", "TwoSided"},
      {"KONICA MINOLTA HP Virtual Printer", "using KM driver parser", "Grayscale", "OneSided"},
      {"HP Virtual Printer", "using HP driver parser", "Color", "TwoSided"},
      {"Virtual Printer", "using Virtual Printer driver parser", "Grayscale", "TwoSided"},
      {"hp deskjet", "using other parser", "Grayscale", "OneSided"},
      {nullptr, "using other parser", "Grayscale", "OneSided"},
  };
  for (const Case& c : cases) {
    std::string name = c.model ? c.model : "(no model)";
    ResetSandbox();
    BackendCall call;
    call.args = {"9", "carol", "Slides", "1", std::string("job-uuid=urn:uuid:") + kUuid};
    call.env = CupsEnvironment(c.model);
    call.stdinData = postscript;
    BackendRun run = RunBackend(call);
    std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
    EXPECT_TRUE(InOrder(log, {"begin parser file", c.parserLine})) << name << "\n" << Joined(log);
    EXPECT_EQ(ReadFile(LogDir() + kUuid + ".ctl"),
              std::string("DataFile:") + kUuid + ".ps\nDocumentName:Slides\nAllPage:5\n" +
                  "CopyCount:3\nPaper:A4\nColor:" + c.color + "\nDuplexing:" + c.duplex +
                  "\nPageOrientation:Portrait\nDriverName:" + (c.model ? c.model : "unknown") +
                  "\n")
        << name;
    EXPECT_EQ(ReadFile(LogDir() + kUuid + ".ps"), postscript) << name;
    EXPECT_NE(run.out.find("pages_temp:5\n"), std::string::npos) << name;
  }
}

TEST_F(Dispatch, SummaryIsSkippedWhenTheControlFileDidNotOpen) {
  std::filesystem::create_directories(LogDir() + kUuid + ".ctl");  // a directory: the open fails
  BackendCall call;
  call.args = {"9", "carol", "Slides", "1", std::string("job-uuid=urn:uuid:") + kUuid};
  call.env = CupsEnvironment("HP LaserJet");
  call.stdinData = "%!PS\n%%Pages: 2\n";
  RunBackend(call);
  std::vector<std::string> log = Unstamped(ReadFile(LogDir() + "vlog.txt"));
  EXPECT_TRUE(InOrder(log, {"using HP driver parser", "tbytes:0"})) << Joined(log);
  for (const std::string& line : log) {
    EXPECT_NE(line.rfind("DocumentName:", 0), 0u) << line;
    EXPECT_NE(line.rfind("AllPage:", 0), 0u) << line;
  }
}

}  // namespace

}  // namespace vp
