#include "dispatch/parser_selection.h"

#include <gtest/gtest.h>

#include <sstream>

#include "attributes/print_settings.h"
#include "dispatch/pdf_settings.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace vp {

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
    JobInfo job = SelectParser(log, c.extension, path, c.model, "Title", 7, PpdFile());
    ::testing::internal::GetCapturedStdout();

    std::vector<std::string> messages = Unstamped(log.str());
    std::vector<std::string> expected = {"begin parser file"};
    expected.insert(expected.end(), c.logStart.begin(), c.logStart.end());
    ASSERT_GE(messages.size(), expected.size()) << where;
    messages.resize(expected.size());
    EXPECT_EQ(messages, expected) << where;
    // Nothing of the defaults survives a parser run but the title, which is the job's.
    EXPECT_EQ(job.color, c.color) << where;
    EXPECT_EQ(job.duplex, c.duplex) << where;
    EXPECT_EQ(job.pages, "5") << where;
    EXPECT_EQ(job.copies, "4") << where;
    EXPECT_EQ(job.documentName, "Title") << where;
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
    JobInfo job = SelectParser(log, ".pdf", path, c.model, "My Report", c.copies, PpdFile());
    ApplyPdfSettings(log, job, c.model, ReadJobOptions(""), PpdFile());
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

namespace {

// A PPD of the given entries, with what every PPD starts with.
std::string Ppd(const std::string& entries) {
  return "*PPD-Adobe: \"4.3\"\n*ModelName: \"Test\"\n" + entries;
}

std::string Feature(const std::string& option, const std::string& choice) {
  return "[{\n%%BeginFeature: *" + option + " " + choice +
         "\n%%EndFeature\n} stopped cleartomark\n";
}

const std::string kUel = "\x1b%-12345X";
// One PCL XL page: BeginPage, the grey colour space, PageCopies 1, EndPage.
const std::string kXlGreyPage = std::string("\x43\xc0\x01\xf8\x03\x6a\xc1\x01\x00\xf8\x31\x44", 12);
const std::string kDuplexOption =
    "*OpenUI *Duplex/2-Sided: PickOne\n*DefaultDuplex: None\n"
    "*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n"
    "*Duplex DuplexNoTumble/Long: \"<</Duplex true/Tumble false>>setpagedevice\"\n"
    "*Duplex DuplexTumble/Short: \"<</Duplex true /Tumble true>>\nsetpagedevice\"\n*End\n"
    "*CloseUI: *Duplex\n";
const std::string kColorModelOption =
    "*OpenUI *ColorModel/Color: PickOne\n*DefaultColorModel: Color\n"
    "*ColorModel Color/Color: \"<</ProcessColorModel /DeviceCMYK>>setpagedevice\"\n"
    "*ColorModel Gray/Gray: \"<</ProcessColorModel/DeviceGray>>setpagedevice\"\n"
    "*CloseUI: *ColorModel\n";

TEST_F(ParserSelection, PpdSaysWhatTheDriversFeaturesDo) {
  struct Case {
    std::string name, model, ppd, data;
    std::string color, duplex, binding;
    std::vector<std::string> lines;  // the plain lines after the parser's
  } cases[] = {
      {"colour model the parser calls grey",
       "Generic",
       Ppd(kColorModelOption + kDuplexOption),
       Feature("ColorModel", "Color") + Feature("Duplex", "DuplexTumble"),
       "Color",
       "TwoSided",
       "SHORTEDGE",
       {"color Color from *ColorModel Color, whose code sets /ProcessColorModel /DeviceCMYK",
        "duplex TwoSided from *Duplex DuplexTumble, whose code sets /Duplex true /Tumble true"}},
      {"vendor duplex option",
       "Sharp MX",
       Ppd("*OpenUI *ARDuplex/Duplex: PickOne\n"
           "*ARDuplex DuplexNoTumble/Long: \"1 dict dup /Duplex true put setpagedevice\"\n"),
       Feature("ARDuplex", "DuplexNoTumble"),
       "",
       "TwoSided",
       "LONGEDGE",
       {"duplex TwoSided from *ARDuplex DuplexNoTumble, whose code sets /Duplex true"}},
      {"last choice of an option wins",
       "KONICA MINOLTA C300i",
       Ppd("*OpenUI *KMDuplex/Duplex: Boolean\n*KMDuplex True/On: \"<</Duplex "
           "true>>setpagedevice\"\n"
           "*KMDuplex False/Off: \"<</Duplex false>>setpagedevice\"\n"),
       Feature("KMDuplex", "False") + Feature("KMDuplex", "True"),
       "",
       "TwoSided",
       "LONGEDGE",
       {"duplex TwoSided from *KMDuplex True, whose code sets /Duplex true"}},
      {"JCL code with hex line feeds",
       "HP Color LaserJet",
       Ppd("*JCLOpenUI *HPColorAsGray/Grey: PickOne\n"
           "*HPColorAsGray None/Off: \"@PJL SET GRAYSCALE=OFF<0A>@PJL SET PLANESINUSE=3<0A>\"\n"
           "*HPColorAsGray HighQuality/Grey: \"@PJL SET PLANESINUSE=1<0A>@PJL SET "
           "GRAYSCALE=COMPOSITE<0A>\"\n" +
           kDuplexOption),
       "@PJL SET GRAYSCALE=OFF<0A>\n" + Feature("HPColorAsGray", "HighQuality"),
       "Grayscale",
       "",
       "",
       {"color Grayscale from *HPColorAsGray HighQuality, whose code sets @PJL SET "
        "GRAYSCALE=COMPOSITE"}},
      {"PJL header, then a PostScript feature",
       "Generic",
       Ppd(kDuplexOption),
       kUel +
           "@PJL SET RENDERMODE = grayscale\r\n@PJL SET DUPLEX=ON\n@PJL SET BINDING=SHORTEDGE\n"
           "@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n" +
           Feature("Duplex", "None"),
       "Grayscale",
       "OneSided",
       "",
       {"color Grayscale from PJL header @PJL SET RENDERMODE = grayscale, whose code sets @PJL SET "
        "RENDERMODE = grayscale",
        "duplex OneSided from *Duplex None, whose code sets /Duplex false"}},
      {"features after the first page's setup are not read",
       "Generic",
       Ppd(kColorModelOption),
       Feature("ColorModel", "Gray") + "%%Page: 1 1\n%%EndPageSetup\n" +
           Feature("ColorModel", "Color"),
       "Grayscale",
       "OneSided",
       "",
       {"color Grayscale from *ColorModel Gray, whose code sets /ProcessColorModel /DeviceGray",
        "duplex OneSided: the PPD has no duplex option"}},
      {"opaque code and unknown choices decide nothing",
       "Generic",
       Ppd("*ColorDevice: True\n*OpenUI *EPSmooth/Neutral Grays: PickOne\n"
           "*EPSmooth Black/Black: \"userdict /EPSmooth 1 put\"\n" +
           kDuplexOption),
       Feature("EPSmooth", "Black") + Feature("Duplex", "Sideways") + Feature("Staple", "On") +
           "%%BeginFeature: *Duplex\n",
       "Color",
       "TwoSided",
       "",
       {"color Color: the PPD's device prints colour and has no colour option"}},
      {"a colour device left at the printer's own colour setting prints colour",
       "Generic",
       Ppd("*ColorDevice: True\n*OpenUI *BLW/Black & White: PickOne\n*BLW PrinterS/Printer "
           "Setting: \"\"\n*BLW TrueM/On: \"<< /ProcessColorModel /DeviceGray >> "
           "setpagedevice\"\n*BLW FalseM/Off: \"<< /ProcessColorModel /DeviceCMYK >> "
           "setpagedevice\"\n" +
           kDuplexOption),
       Feature("BLW", "PrinterS"),
       "Color",
       "",
       "",
       {"color Color: the PPD's device prints colour and no colour choice of the job sets a "
        "colour"}},
      {"vendor's own colour code: the choice's words",
       "Sharp MX",
       Ppd("*OpenUI *ARCMode/Color Mode: PickOne\n*ARCMode CMBW/Black and White: \"2 "
           "setcolormode\"\n"
           "*ARCMode CMColor/Color: \"1 setcolormode\"\n*ARCMode CMAuto/Automatic: \"0 "
           "setcolormode\"\n" +
           kDuplexOption),
       Feature("ARCMode", "CMBW"),
       "Grayscale",
       "",
       "",
       {"color Grayscale from *ARCMode CMBW by its name \"Black and White\" (its code sets "
        "nothing the backend reads)"}},
      {"a colour mode's automatic choice",
       "Oki C5700",
       Ppd("*OpenUI *OKControl/Color Mode: PickOne\n*OKControl Auto/Auto: \"0 OKmode\"\n"
           "*OKControl Gray/Grayscale: \"1 OKmode\"\n*OKControl Color/Colour: \"2 OKmode\"\n"
           "*OpenUI *OKSep/Colour Separation: PickOne\n"
           "*OKSep None/None: \"0 OKsep\"\n*OKSep K/Black: \"1 OKsep\"\n" +
           kDuplexOption),
       Feature("OKControl", "Auto") + Feature("OKSep", "None"),
       "Color",
       "",
       "",
       {"color Color from *OKControl Auto by its name \"Auto\" (its code sets nothing the backend "
        "reads)"}},
      {"rendering options are no colour mode",
       "Oki C5700",
       Ppd("*OpenUI *OKColorRenderStyle/Color Rendering: PickOne\n"
           "*OKColorRenderStyle Auto/Monitor - Auto: \"1 OKrender\"\n"
           "*OKColorRenderStyle Vivid/Vivid: \"2 OKrender\"\n" +
           kDuplexOption),
       Feature("OKColorRenderStyle", "Auto"),
       "",
       "",
       "",
       {}},
      {"code decides before words",
       "Sharp MX",
       Ppd("*OpenUI *ARCMode/Color Mode: PickOne\n*ARCMode CMBW/Black and White: \"2 "
           "setcolormode\"\n" +
           kColorModelOption),
       Feature("ColorModel", "Color") + Feature("ARCMode", "CMBW"),
       "Color",
       "OneSided",
       "",
       {"color Color from *ColorModel Color, whose code sets /ProcessColorModel /DeviceCMYK",
        "duplex OneSided: the PPD has no duplex option"}},
      {"device without colour",
       "Generic",
       Ppd("*ColorDevice: False\n" + kDuplexOption),
       "%!PS\n",
       "Grayscale",
       "",
       "",
       {"color Grayscale: the PPD's device has no colour and no colour option"}},
      {"PCL XL drawn in grey, whatever the PJL render mode",
       "Generic",
       Ppd("*ColorDevice: True\n" + kDuplexOption),
       kUel + "@PJL SET RENDERMODE=COLOR\n@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0\n" +
           kXlGreyPage,
       "Grayscale",
       "OneSided",
       "",
       {"duplex OneSided from the PCL XL data", "color Grayscale from the PCL XL data",
        "color Color from PJL header @PJL SET RENDERMODE=COLOR, whose code sets @PJL SET "
        "RENDERMODE=COLOR",
        "color Grayscale: the PCL XL data sets grey colour spaces only"}},
      {"PCL 5c colour on a colour device",
       "Generic",
       Ppd("*ColorDevice: True\n" + kDuplexOption),
       kUel + "@PJL ENTER LANGUAGE=PCL\n\x1b"
              "E\x1b&l1S\x1b*r3U\x1b*b1W\xff\f",
       "Color",
       "TwoSided",
       "LONGEDGE",
       {"duplex TwoSided from the PCL 5 data", "color Color from the PCL 5 data"}},
      {"no PPD: the parser alone",
       "KONICA MINOLTA C300i",
       "",
       Feature("KMDuplex", "False") + Feature("SelectColor", "Color"),
       "Color",
       "OneSided",
       "",
       {}},
  };
  for (const Case& c : cases) {
    std::string start = c.data.starts_with(kUel) ? "" : "%!PS-Adobe-3.0\n";
    std::string data = Write(start + c.data + "%%Page: 2 2\n", ".ps");
    std::string ppd = c.ppd.empty() ? dir_ + "missing.ppd" : Write(c.ppd, ".ppd");
    std::ostringstream log;
    ::testing::internal::CaptureStdout();
    JobInfo job = SelectParser(log, ".ps", data, c.model, "Title", 1, ReadPpd(ppd));
    ::testing::internal::GetCapturedStdout();
    std::vector<std::string> plain;
    for (const std::string& line : Unstamped(log.str())) {
      if (line.find("color ") == 0 || line.find("duplex ") == 0)
        plain.push_back(line);
    }
    EXPECT_EQ(plain, c.lines) << c.name;
    EXPECT_EQ(job.color, c.color) << c.name;
    EXPECT_EQ(job.duplex, c.duplex) << c.name;
    EXPECT_EQ(job.binding, c.binding) << c.name;
  }
}

TEST_F(ParserSelection, PageLanguageFillsWhatMarkersLeaveEmpty) {
  struct Case {
    std::string name, model, data, pages, copies;
  } cases[] = {
      {"PCL XL under PJL copies", "HP LaserJet",
       kUel + "@PJL SET COPIES=3\n@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0\n\x43\x44\x43\x44",
       "2", "3"},
      {"markers win over the page language", "unknown",
       "\x1b"
       "Ea\fb\f%RBINumCopies: 2\n\f",
       "3", "2"},
      {"PostScript without markers stays empty", "unknown", "%!PS\nshowpage\n", "", ""},
  };
  for (const Case& c : cases) {
    std::ostringstream log;
    ::testing::internal::CaptureStdout();
    JobInfo job = SelectParser(log, ".pjl", Write(c.data, ".pjl"), c.model, "Title", 1, PpdFile());
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(job.pages, c.pages) << c.name;
    EXPECT_EQ(job.copies, c.copies) << c.name;
  }
}

}  // namespace

}  // namespace vp
