// The whole road of a job through the real CUPS scheduler: a queue whose device is
// virtual-printer:/, jobs submitted with lp, the backend run by cupsd as on a user's machine, and
// the job arriving at the local print-management server.

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <cups/ipp.h>
#include <gtest/gtest.h>

#include "tests/cups/fixtures.h"
#include "tests/cups/private_cups.h"
#include "tests/support/client_settings.h"
#include "tests/support/print_server_process.h"
#include "tests/support/test_pdf.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr char kTrailer[] = "\x1b%-12345X@PJL EOJ+\n%-12345X";
constexpr char kColourKey[] = "com.apple.print.PrintSettings.PMColorSpaceModel..n.";
constexpr char kDuplexKey[] = "com.apple.print.PrintSettings.PMDuplexing..n.";

// What the control file and the server's printProperties must say.
struct Attributes {
  std::string documentName;
  std::string pages;
  std::string copies;
  std::string paper;
  std::string color;
  std::string duplex;
  std::string orientation;
  std::string driver;
};

std::vector<std::string> ControlLines(const std::string& dataFile, const Attributes& a) {
  return {"DataFile:" + dataFile,  "DocumentName:" + a.documentName,
          "AllPage:" + a.pages,    "CopyCount:" + a.copies,
          "Paper:" + a.paper,      "Color:" + a.color,
          "Duplexing:" + a.duplex, "PageOrientation:" + a.orientation,
          "DriverName:" + a.driver};
}

// `sentName` is the document name as the server must receive it: escaped for a JSON string.
std::string PrintProperties(const Attributes& a, const std::string& sentName) {
  return "{\"terminaltype\": \"linux\",\"DocumentName\": \"" + sentName + "\",\"AllPage\": \"" +
         a.pages + "\",\"CopyCount\": \"" + a.copies + "\",\"Paper\": \"ISO" + a.paper +
         "\",\"Duplexing\": \"" + a.duplex + "\",\"Color\":\"" + a.color +
         "\",\"PageOrientation\": \"" + a.orientation + "\",\"DriverName\": \"" + a.driver +
         "\",\"DocumentLevel\": \"\xE5\x85\xAC\xE5\xBC\x80\"}";
}

std::string Form(const std::string& dataFile) {
  return "token\t\t\nprintProperties\t\t\nuploadfile\t" + dataFile + "\tapplication/octet-stream\n";
}

std::map<std::string, std::string> Credentials(const World& world) {
  return {{"AuthMode", "1"},       {"ServerIp", "127.0.0.1:" + std::to_string(world.serverPort)},
          {"UserName", "alice"},   {"PassWord", "not-this-one"},
          {"PassWord2", "s3cret"}, {"Token", ""}};
}

// Each job gets its own UUID so its files can be told apart.
std::string NextUuid() {
  static int jobs = 0;
  char uuid[37];
  std::snprintf(uuid, sizeof(uuid), "5d1c0e4e-6d0b-4a4c-8b7e-%012d", ++jobs);
  return uuid;
}

struct PdfCase;
struct PostScriptCase;
struct FailureCase;

class CupsRoad : public testing::Test {
 protected:
  struct Job {
    int id = -1;
    std::string uuid;
    JobOutcome outcome;
  };

  // The roads of the tables below, one job each, with their checks; the sandbox suite runs them
  // again.
  Job PrintPdfCase(const PdfCase& c);
  Job PrintPostScriptCase(const PostScriptCase& c);
  Job PrintFailureCase(const FailureCase& c);

  void SetUp() override {
    ASSERT_EQ(StartWorld(world_, std::string(VP_SANDBOX) + "/bin/virtual-printer", systemFilters_),
              "");
    WriteSettings(Credentials(world_));
  }

  void TearDown() override {
    if (HasFailure()) {
      std::printf("--- job log\n%s", JobLog().c_str());
      if (lastJob_ > 0)
        std::printf("--- scheduler, job %d\n%s", lastJob_,
                    SchedulerLogOf(world_, lastJob_).c_str());
    }
    StopWorld(world_);
  }

  void WriteSettings(const std::map<std::string, std::string>& quoradex) {
    ASSERT_TRUE(WriteFile(world_.settings, ClientSettingsPlist(quoradex)));
  }

  void AddPpdQueue(const std::string& name, const std::string& model, bool driverFilter) {
    ASSERT_EQ(AddQueue(world_, name, MakePpd(model, driverFilter)), "");
  }

  // Prints the document with lp and waits until the scheduler is done with it.
  Job Print(const std::string& queue, const std::string& document,
            std::vector<std::string> lpArguments) {
    Job job;
    job.uuid = NextUuid();
    std::string file = world_.root + "/document-" + job.uuid;
    WriteFile(file, document);
    lpArguments.push_back("-o");
    lpArguments.push_back("job-uuid=urn:uuid:" + job.uuid);
    std::string error;
    job.id = SubmitJob(queue, file, lpArguments, error);
    lastJob_ = job.id;
    EXPECT_GT(job.id, 0) << error;
    if (job.id > 0)
      job.outcome = WaitForJob(queue, job.id);
    return job;
  }

  std::string JobLog() const { return ReadFile(world_.logDir + "vlog.txt"); }
  std::string InLogDir(const std::string& name) const { return ReadFile(world_.logDir + name); }

  // Checks the files a job leaves and what the server holds of it.
  void ExpectDelivered(const Job& job, const std::string& extension, const std::string& sent,
                       const Attributes& attributes, const std::string& sentName) {
    std::string dataFile = job.uuid + extension;
    EXPECT_EQ(job.outcome.state, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(InLogDir(dataFile), sent) << "the spooled data file " << dataFile;
    EXPECT_EQ(Lines(InLogDir(job.uuid + ".ctl")), ControlLines(dataFile, attributes));
    std::string upload = StoredUpload(world_, dataFile);
    ASSERT_NE(upload, "") << "the server holds no upload named " << dataFile;
    EXPECT_EQ(ReadFile(upload + "/" + dataFile), sent) << "uploaded bytes";
    EXPECT_EQ(ReadFile(upload + "/printProperties"), PrintProperties(attributes, sentName));
    EXPECT_EQ(ReadFile(upload + "/form"), Form(dataFile));
    EXPECT_TRUE(Contains(Unstamped(JobLog()), "upload finished"));
    EXPECT_EQ(Notifications(world_), std::vector<std::string>{}) << "the notifier was told";
  }

  World world_;
  int lastJob_ = -1;
  bool systemFilters_ = false;
};

// ---- PDF from a driver: data on standard input, attributes from the print dialog's options.

struct PdfCase {
  const char* name;
  const char* model;
  int pages;
  std::vector<std::string> lpArguments;
  Attributes expected;  // documentName and driver are filled in from the case
  const char* title;
  const char* sentName;
  const char* header;  // the PJL envelope's head
  const char* colourLine;
  std::vector<std::string> extraLogLines;
};

const std::vector<PdfCase> kPdfCases = {
    {"HpTwoCopiesGrayLongEdge",
     "HP Color LaserJet Pro M479 PS",
     2,
     {"-n", "2", "-o", "PageSize=A4", "-o", std::string(kColourKey) + "=1", "-o",
      std::string(kDuplexKey) + "=2"},
     {"", "2", "2", "A4", "Grayscale", "TwoSided", "Portrait", ""},
     "Q3 \"Final\" Report's \\ draft",
     "Q3 \\\"Final\\\" Report's \\\\ draft",
     "\x1b%-12345X@PJL JOB NAME=Q3 \"Final\" Report's \\ draft\n@PJL SET QTY=2\n"
     "@PJL SET BINDING=LONGEDGE\n@PJL SET DUPLEX=ON\n@PJL ENTER LANGUAGE=PDF\n",
     "driver contain Color",
     {}},
    {"KonicaMinoltaColourShortEdgeLegal",
     "KONICA MINOLTA bizhub C368 PS",
     3,
     {"-o", "PageSize=Legal", "-o", std::string(kColourKey) + "=2", "-o",
      std::string(kDuplexKey) + "=3", "-o", "NupOrient=Landscape"},
     {"", "3", "1", "Le", "Color", "TwoSided", "Landscape", ""},
     "Minutes",
     "Minutes",
     "\x1b%-12345X@PJL JOB NAME=Minutes\n@PJL SET QTY=1\n@PJL SET BINDING=SHORTEDGE\n"
     "@PJL SET DUPLEX=ON\n@PJL ENTER LANGUAGE=PDF\n",
     "driver contain Grayscale",
     {"Paper-original::Legal"}},
    {"VirtualPrinterColourFromModelLetter",
     "Virtual Printer Color",
     1,
     {"-n", "3", "-o", "PageSize=Letter"},
     {"", "1", "3", "Letter", "Color", "OneSided", "Portrait", ""},
     "Letter to Zo\xC3\xAB",
     "Letter to Zo\xC3\xAB",
     "\x1b%-12345X@PJL JOB NAME=Letter to Zo\xC3\xAB\n@PJL SET QTY=3\n@PJL SET DUPLEX=OFF\n"
     "@PJL ENTER LANGUAGE=PDF\n",
     "driver contain Color",
     {}},
    // No dialog keys: CUPS gives every job of a colour queue print-color-mode=color.
    {"GenericColourQueueDefaults",
     "Generic PDF Printer",
     2,
     {},
     {"", "2", "1", "A4", "Color", "OneSided", "Portrait", ""},
     "",
     "",
     "\x1b%-12345X@PJL JOB NAME=\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
     "@PJL ENTER LANGUAGE=PDF\n",
     "driver contain Grayscale",
     {"color Color from print-color-mode=color"}},
};

void PrintTo(const PdfCase& c, std::ostream* out) {
  *out << c.name;
}

class PdfFromDriver : public CupsRoad, public testing::WithParamInterface<PdfCase> {};

CupsRoad::Job CupsRoad::PrintPdfCase(const PdfCase& c) {
  AddPpdQueue("driver", c.model, true);
  std::string pdf = MakePdf(c.pages);
  std::vector<std::string> lpArguments = c.lpArguments;
  lpArguments.insert(lpArguments.end(), {"-t", c.title});
  Job job = Print("driver", pdf, lpArguments);

  Attributes expected = c.expected;
  expected.documentName = c.title;
  expected.driver = c.model;
  ExpectDelivered(job, ".pdf", c.header + pdf + kTrailer, expected, c.sentName);
  std::vector<std::string> log = Unstamped(JobLog());
  std::vector<std::string> lines = {std::string("model:") + c.model, "using pdf driver parser",
                                    c.colourLine, "parser pagecount:" + std::to_string(c.pages)};
  lines.insert(lines.end(), c.extraLogLines.begin(), c.extraLogLines.end());
  for (const std::string& line : lines)
    EXPECT_TRUE(Contains(log, line)) << line;
  return job;
}

TEST_P(PdfFromDriver, ArrivesWrappedWithTheDialogsAttributes) {
  PrintPdfCase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Families, PdfFromDriver, testing::ValuesIn(kPdfCases),
                         testing::PrintToStringParamName());

// ---- PostScript from each driver family: data on standard input, read by the family's parser.

struct PostScriptCase {
  const char* name;
  const char* model;
  std::string document;
  Attributes expected;  // documentName and driver are filled in from the case
  std::vector<std::string> logLines;
};

// Page content of about that many bytes: enough to cross many blocks of every copy on the way.
std::string Drawing(size_t bytes) {
  std::string drawing;
  for (int i = 0; drawing.size() < bytes; ++i)
    drawing +=
        std::to_string(i % 500) + " 0 moveto 0 " + std::to_string(i % 700) + " lineto stroke\n";
  return drawing;
}

const std::vector<PostScriptCase> kPostScriptCases = {
    {"KonicaMinolta",
     "KONICA MINOLTA bizhub C368 PS",
     "%!PS-Adobe-3.0\n%%Pages: (atend)\n%RBINumCopies: 2\n%%BeginFeature: *SelectColor Color\n"
     "%%EndFeature\n%%BeginFeature: *KMDuplex Double\n%%EndFeature\n"
     "%%BeginFeature: *Duplex None\n%%EndFeature\nshowpage\nshowpage\nshowpage\n%%Pages: 3\n"
     "%%EOF\n",
     {"", "3", "2", "A4", "Color", "TwoSided", "Portrait", ""},
     {"using KM driver parser"}},
    {"Hp",
     "HP LaserJet Enterprise M607 PS",
     "\x1b%-12345X@PJL JOB\n@PJL SET GRAYSCALE=OFF\n@PJL ENTER LANGUAGE=POSTSCRIPT\n"
     "%!PS-Adobe-3.0\n%%Pages: 2\n%RBINumCopies: 1\n%%BeginFeature: *Duplex DuplexTumble\n"
     "%%EndFeature\nshowpage\nshowpage\n%%EOF\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X",
     {"", "2", "1", "A4", "Color", "TwoSided", "Portrait", ""},
     {"using HP driver parser"}},
    {"VirtualPrinter",
     "Virtual Printer",
     "%!PS-Adobe-3.0\n%%Pages: 4\n%RBINumCopies: 3\n%%BeginFeature: *ColorModel CMYK\n"
     "%%EndFeature\n%%BeginFeature: *Duplex None\n%%EndFeature\nshowpage\n%%EOF\n",
     {"", "4", "3", "A4", "Grayscale", "OneSided", "Portrait", ""},
     {"using Virtual Printer driver parser", "driver contain Grayscale"}},
    {"GenericLarge",
     "Generic PostScript Printer",
     "%!PS-Adobe-3.0\n%%Pages: 5\n%%BeginFeature: *ColorModel CMYK\n%%EndFeature\n"
     "%%BeginFeature: *Duplex DuplexNoTumble\n%%EndFeature\n" +
         Drawing(300 * 1024) + "showpage\n%%EOF\n",
     {"", "5", "", "A4", "Color", "TwoSided", "Portrait", ""},
     {"using other parser", "color_temp-QX:CMYK", "duplex_temp-QX:DuplexNoTumble",
      "duplex_temp-HP:DuplexNoTumble"}},
};

void PrintTo(const PostScriptCase& c, std::ostream* out) {
  *out << c.name;
}

class PostScriptFromDriver : public CupsRoad, public testing::WithParamInterface<PostScriptCase> {};

CupsRoad::Job CupsRoad::PrintPostScriptCase(const PostScriptCase& c) {
  AddPpdQueue("driver", c.model, true);
  Job job = Print("driver", c.document, {"-t", "Spring catalogue", "-n", "4"});

  Attributes expected = c.expected;
  expected.documentName = "Spring catalogue";
  expected.driver = c.model;
  ExpectDelivered(job, ".ps", c.document, expected, "Spring catalogue");
  std::vector<std::string> log = Unstamped(JobLog());
  EXPECT_TRUE(Contains(log, std::string("model:") + c.model));
  for (const std::string& line : c.logLines)
    EXPECT_TRUE(Contains(log, line)) << line;
  return job;
}

TEST_P(PostScriptFromDriver, ArrivesUnchangedWithTheParsersAttributes) {
  PrintPostScriptCase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Families, PostScriptFromDriver, testing::ValuesIn(kPostScriptCases),
                         testing::PrintToStringParamName());

// ---- Real vendor drivers from Debian's packages, through CUPS's own filters (pdftopdf, pdftops,
// pstops, ghostscript, hplip's hpps): the device's colour, sides and paper as the PPD means them.

struct VendorJob {
  const char* name;
  std::vector<std::string> lpArguments;  // the PPD's own option words
  const char* color;
  const char* duplex;
  const char* logLine;          // a plain line naming what decided, when one must be there
  bool colourDocument = false;  // a page drawn in colour instead of black text
};

// Two pages with a red square each, for drivers that draw in grey what is black.
const char kColourDocument[] =
    "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n"
    "%%Page: 1 1\n1 0 0 setrgbcolor 72 72 144 144 rectfill showpage\n"
    "%%Page: 2 2\n1 0 0 setrgbcolor 72 72 144 144 rectfill showpage\n%%EOF\n";

struct VendorCase {
  const char* name;
  const char* ppd;        // as the driver program names it
  const char* extension;  // of the data the driver hands the backend
  const char* paper;      // the PPD's *DefaultPageSize
  std::vector<VendorJob> jobs;
};

const std::vector<VendorCase> kVendorCases = {
    {"KonicaMinolta",
     "openprinting-ppds:0/ppd/openprinting/KONICA_MINOLTA/KOC250UX.ppd",
     ".ps",
     "Letter",
     {{"default",
       {},
       "Color",
       "OneSided",
       "duplex OneSided from *KMDuplex False, whose code sets /Duplex false"},
      {"two-sided",
       {"-o", "KMDuplex=True"},
       "Color",
       "TwoSided",
       "duplex TwoSided from *KMDuplex True, whose code sets /Duplex true"},
      {"grey",
       {"-o", "SelectColor=Grayscale"},
       "Grayscale",
       "OneSided",
       "color Grayscale from *SelectColor Grayscale, whose code sets /ProcessColorModel "
       "/DeviceGray"}}},
    {"HpThroughHpps",
     "postscript-hp:7/ppd/hplip/HP/hp-color_laserjet_mfp_e87740-ps.ppd",
     ".ps",
     "Letter",
     {{"default", {}, "Color", "OneSided", nullptr},
      {"two-sided",
       {"-o", "Duplex=DuplexTumble"},
       "Color",
       "TwoSided",
       "duplex TwoSided from *Duplex DuplexTumble, whose code sets /Duplex true /Tumble true"},
      {"grey",
       {"-o", "HPColorAsGray=HighQuality"},
       "Grayscale",
       "OneSided",
       "color Grayscale from *HPColorAsGray HighQuality, whose code sets @PJL SET "
       "GRAYSCALE=COMPOSITE"}}},
    {"Sharp",
     "openprinting-ppds:0/ppd/openprinting/Sharp/Sharp-MX-3500N-ps.ppd",
     ".ps",
     "Letter",
     {{"default",
       {},
       "Color",
       "OneSided",
       "color Color from *ARCMode CMAuto, whose code sets /ProcessColorModel /DeviceCMYK"},
      {"two-sided",
       {"-o", "Duplex=DuplexNoTumble"},
       "Color",
       "TwoSided",
       "duplex TwoSided from *Duplex DuplexNoTumble, whose code sets /Duplex true /Tumble false"},
      {"grey",
       {"-o", "ARCMode=CMBW"},
       "Grayscale",
       "OneSided",
       "color Grayscale from *ARCMode CMBW, whose code sets /ProcessColorModel /DeviceGray"}}},
    {"RicohPdf",
     "openprinting-ppds:0/ppd/openprinting/Ricoh/PDF/Ricoh-MP_C1500_615C_PDF.ppd",
     ".pdf",
     "Letter",
     {{"default", {}, "Color", "OneSided", "duplex OneSided from *DefaultDuplex None"},
      {"two-sided",
       {"-o", "Duplex=DuplexNoTumble"},
       "Color",
       "TwoSided",
       "duplex TwoSided from Duplex=DuplexNoTumble"},
      // CUPS adds print-color-mode=color to every job of a colour queue.
      {"grey",
       {"-o", "ColorModel=Gray"},
       "Grayscale",
       "OneSided",
       "color Grayscale from ColorModel=Gray"},
      {"the dialog's one-sided over Duplex",
       {"-o", "Duplex=DuplexNoTumble", "-o", std::string(kDuplexKey) + "=1"},
       "Color",
       "OneSided",
       nullptr}}},
    // Page languages: the data holds no marker lines, the language says what the device prints.
    {"PclXlThroughGstopxl",
     "/usr/share/ppd/cupsfilters/pxlcolor.ppd",
     ".pjl",
     "Letter",
     {{"black text is drawn in grey",
       {},
       "Grayscale",
       "OneSided",
       "color Grayscale: the PCL XL data sets grey colour spaces only"},
      {"colour", {}, "Color", "OneSided", "color Color from the PCL XL data", true},
      {"two-sided",
       {"-o", "Duplex=DuplexNoTumble"},
       "Grayscale",
       "TwoSided",
       "duplex TwoSided from the PCL XL data"}}},
    {"Pcl5ThroughRastertohp",
     "drv:///sample.drv/laserjet.ppd",
     ".pjl",
     "Letter",
     {{"default", {}, "Grayscale", "OneSided", "color Grayscale from the PCL 5 data"},
      {"two-sided",
       {"-o", "Duplex=DuplexTumble"},
       "Grayscale",
       "TwoSided",
       "duplex TwoSided from the PCL 5 data"}}},
};

void PrintTo(const VendorCase& c, std::ostream* out) {
  *out << c.name;
}

class VendorDriver : public CupsRoad, public testing::WithParamInterface<VendorCase> {
 protected:
  VendorDriver() { systemFilters_ = true; }
};

TEST_P(VendorDriver, ReportsWhatTheDevicePrints) {
  const VendorCase& c = GetParam();
  std::string ppd = DriverPpd(c.ppd);
  if (ppd.empty())
    GTEST_SKIP() << c.ppd << " is not installed (scripts/setup.sh installs the driver packages)";
  ASSERT_EQ(AddQueue(world_, "vendor", ppd), "");
  for (const VendorJob& vendorJob : c.jobs) {
    SCOPED_TRACE(vendorJob.name);
    Job job = Print("vendor", vendorJob.colourDocument ? kColourDocument : MakePdf(2),
                    vendorJob.lpArguments);
    EXPECT_EQ(job.outcome.state, IPP_JSTATE_COMPLETED);
    std::vector<std::string> control = Lines(InLogDir(job.uuid + ".ctl"));
    ASSERT_EQ(control.size(), 9u) << "no control file; the data went out as "
                                  << (fs::exists(world_.logDir + job.uuid + ".pjl") ? ".pjl" : "?");
    EXPECT_EQ(control[0], "DataFile:" + job.uuid + c.extension);
    EXPECT_EQ(control[2], "AllPage:2");
    EXPECT_EQ(control[4], std::string("Paper:") + c.paper);
    EXPECT_EQ(control[5], std::string("Color:") + vendorJob.color);
    EXPECT_EQ(control[6], std::string("Duplexing:") + vendorJob.duplex);
    if (vendorJob.logLine) {
      EXPECT_TRUE(Contains(Unstamped(JobLog()), vendorJob.logLine)) << vendorJob.logLine;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Vendors, VendorDriver, testing::ValuesIn(kVendorCases),
                         testing::PrintToStringParamName());

// ---- Raw queue: the spooled file is handed over as argument 6 and never examined, so it goes out
// as PJL, unchanged, read by the generic parser; there is no PPD, so the model is "unknown".

TEST_F(CupsRoad, RawQueueForwardsThePrintFileUnchanged) {
  ASSERT_EQ(AddQueue(world_, "raw", ""), "");
  struct Document {
    std::string bytes;
    Attributes expected;
  };
  const std::vector<Document> documents = {
      {MakePdf(2), {"Raw doc", "", "", "A4", "", "", "Portrait", "unknown"}},
      {"%!PS-Adobe-3.0\n%%Pages: 2\n%RBINumCopies: 2\n%%BeginFeature: *SelectColor Color\n"
       "%%EndFeature\n%%BeginFeature: *KMDuplex Single\n%%EndFeature\nshowpage\n%%EOF\n",
       {"Raw doc", "2", "2", "A3", "Color", "OneSided", "Portrait", "unknown"}},
  };
  std::vector<std::string> pageSizes = {"A4", "A3"};
  for (size_t i = 0; i < documents.size(); ++i) {
    SCOPED_TRACE("document " + std::to_string(i));
    const Document& document = documents[i];
    Job job = Print("raw", document.bytes, {"-t", "Raw doc", "-o", "PageSize=" + pageSizes[i]});
    ExpectDelivered(job, ".pjl", document.bytes, document.expected, "Raw doc");
    std::vector<std::string> log = Unstamped(JobLog());
    EXPECT_TRUE(Contains(log, "using other parser"));
    EXPECT_TRUE(Contains(log, "tbytes:" + std::to_string(document.bytes.size())));
    for (const std::string& line : log)
      EXPECT_NE(line.rfind("model:", 0), 0u) << "a raw queue has no model: " << line;
    EXPECT_FALSE(fs::exists(world_.logDir + job.uuid + ".pdf"));
  }
}

// ---- The server cannot take the job: the notifier is told, and the scheduler holds the job for
// authentication or stops the queue.

struct FailureCase {
  const char* name;
  std::map<std::string, std::string> (*settings)(const World&);
  const char* logLine;
  bool heldForAuthentication;  // else the queue is stopped
};

const std::vector<FailureCase> kFailureCases = {
    {"RefusedLogin",
     [](const World& world) {
       auto settings = Credentials(world);
       settings["PassWord2"] = "wrong";
       return settings;
     },
     "login failed begin notify need auth", true},
    {"MissingCredentials",
     [](const World& world) {
       auto settings = Credentials(world);
       settings["UserName"] = "";
       return settings;
     },
     "username or password or serverip is empty!", false},
    {"ServerDown",
     [](const World& world) {
       auto settings = Credentials(world);
       settings["ServerIp"] = "127.0.0.1:" + std::to_string(UnusedPort());
       return settings;
     },
     "login failed", false},
};

void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.name;
}

class ServerCannotTakeTheJob : public CupsRoad, public testing::WithParamInterface<FailureCase> {};

CupsRoad::Job CupsRoad::PrintFailureCase(const FailureCase& c) {
  WriteSettings(c.settings(world_));
  AddPpdQueue("driver", "HP LaserJet Enterprise M607 PS", true);
  Job job = Print("driver", MakePdf(1), {"-t", "Payslip"});

  if (c.heldForAuthentication) {
    EXPECT_EQ(job.outcome.state, IPP_JSTATE_HELD);
    EXPECT_TRUE(HasReason(job.outcome, "cups-held-for-authentication"));
    EXPECT_FALSE(job.outcome.queueStopped);
  } else {
    EXPECT_EQ(job.outcome.state, IPP_JSTATE_PENDING);
    EXPECT_TRUE(job.outcome.queueStopped);
  }
  EXPECT_TRUE(Contains(Unstamped(JobLog()), c.logLine)) << c.logLine;
  std::vector<std::string> notes = Notifications(world_);
  EXPECT_EQ(notes.size(), 1u) << "one notifier message per failed job";
  nlohmann::json note = nlohmann::json::parse(notes.empty() ? "" : notes[0], nullptr, false);
  EXPECT_EQ(note, nlohmann::json({{"messageId", "UploadJob"}, {"content", job.uuid}}));
  EXPECT_FALSE(fs::exists(world_.store + "/notifications-refused.log"));
  EXPECT_EQ(StoredUpload(world_, job.uuid + ".pdf"), "");
  // The job's files stay for the user to look at.
  EXPECT_EQ(Lines(InLogDir(job.uuid + ".ctl")).size(), 9u);
  return job;
}

TEST_P(ServerCannotTakeTheJob, TellsTheNotifierAndTheScheduler) {
  PrintFailureCase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Roads, ServerCannotTakeTheJob, testing::ValuesIn(kFailureCases),
                         testing::PrintToStringParamName());

// ---- Under the scheduler's sandbox on macOS, as far as Linux mounts can show it: the backend and
// its filter see a read-only system but for the folders that stand in for /private/var/log/,
// /private/var/run/ and /private/var/spool/ (not the scheduler's own spool) and TMPDIR, and the
// home folders, standing in for /Users, are hidden. The roads still work, and what they leave in
// those folders is exactly the job's files.

// The writable folders, by the macOS folder each stands for.
struct SandboxPlace {
  const char* mac;
  std::string folder;
  std::string
      shellWord;  // the folder as the sandbox is told it when the scheduler starts a program
};

std::vector<SandboxPlace> WritablePlaces(const World& world) {
  const std::string sandbox = VP_SANDBOX;
  return {{"/private/var/log/", sandbox + "/var/log", sandbox + "/var/log"},
          {"/private/var/run/", sandbox + "/var/run", sandbox + "/var/run"},
          {"/private/var/spool/", sandbox + "/private/var/spool", sandbox + "/private/var/spool"},
          {"TempDir", world.root + "/spool/temp", "\"$TMPDIR\""}};
}

constexpr char kHomeSecret[] = "/home/alice/Library/Preferences/secret.plist";

// Each place's files and folders as "mac-folder relative-path", folders with a trailing slash.
std::set<std::string> WrittenPlaces(const World& world) {
  std::set<std::string> written;
  for (const SandboxPlace& place : WritablePlaces(world)) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(place.folder, error)) {
      written.insert(std::string(place.mac) + " " +
                     fs::relative(entry.path(), place.folder).string() +
                     (entry.is_directory() ? "/" : ""));
    }
  }
  return written;
}

class Sandboxed : public CupsRoad {
 protected:
  void SetUp() override {
    if (std::string(VP_BINARY_DIR).starts_with("/home/"))
      GTEST_SKIP() << "the build tree lies under /home, which the sandbox hides";
    // A user's home folder of this namespace alone, with something the backend must not see.
    fs::create_directories("/home");
    ASSERT_EQ(mount("tmpfs", "/home", "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno);
    fs::create_directories(fs::path(kHomeSecret).parent_path());
    ASSERT_TRUE(WriteFile(kHomeSecret, "<plist/>"));
    world_.root = std::string(VP_BINARY_DIR) + "/tests/cups/world";
    std::string prefix = VP_MOUNT_SANDBOX;
    for (const SandboxPlace& place : WritablePlaces(world_))
      prefix += " -w " + place.shellWord;
    world_.cupsExecPrefix = prefix + " -h /home --";
    CupsRoad::SetUp();
  }
};

// What a program under the sandbox may do, tried by a backend of the test's own.
struct Probe {
  const char* name;
  bool write;        // else read
  std::string path;  // shell text: "$TMPDIR" is the scheduler's TempDir
  bool allowed;
};

std::vector<Probe> Probes(const World& world) {
  const std::string sandbox = VP_SANDBOX;
  return {
      {"log", true, sandbox + "/var/log/probe", true},
      {"run", true, sandbox + "/var/run/probe", true},
      {"spool", true, sandbox + "/private/var/spool/probe", true},
      {"tempdir", true, "$TMPDIR/probe", true},
      {"scheduler-spool", true, world.root + "/spool/probe", false},
      {"server-root", true, world.root + "/probe", false},
      {"private-var", true, sandbox + "/var/probe", false},
      {"read-server-root", false, world.root + "/cupsd.conf", true},
      {"read-home", false, kHomeSecret, false},
  };
}

TEST_F(Sandboxed, LetsProgramsWriteOnlyWhereMacOSDoes) {
  std::string script = "#!/bin/sh\n";
  for (const Probe& probe : Probes(world_)) {
    std::string attempt = probe.write
                              ? "echo probe >\"" + probe.path + "\" && rm \"" + probe.path + "\""
                              : "cat \"" + probe.path + "\" >/dev/null";
    script += "if (" + attempt + ") 2>/dev/null; then echo \"INFO: probe " + probe.name +
              " allowed\" >&2; else echo \"INFO: probe " + probe.name + " refused\" >&2; fi\n";
  }
  std::string backend = world_.serverBin + "/backend/probe";
  ASSERT_TRUE(WriteFile(backend, script));
  ASSERT_EQ(chmod(backend.c_str(), 0700), 0);
  ASSERT_EQ(AddQueue(world_, "probe", "", "probe:/"), "");
  std::string file = world_.root + "/document-probe";
  WriteFile(file, "probe\n");
  std::string error;
  int id = SubmitJob("probe", file, {}, error);
  ASSERT_GT(id, 0) << error;
  lastJob_ = id;
  EXPECT_EQ(WaitForJob("probe", id).state, IPP_JSTATE_COMPLETED);
  std::string log = SchedulerLogOf(world_, id);
  for (const Probe& probe : Probes(world_)) {
    std::string said =
        std::string("probe ") + probe.name + (probe.allowed ? " allowed" : " refused");
    EXPECT_NE(log.find(said + "\n"), std::string::npos) << said;
  }
}

// Each road as its own table has it, in a sandbox of its own.
struct SandboxRoad {
  const char* name;
  const PdfCase* pdf;
  const PostScriptCase* postScript;
  const FailureCase* failure;
  const char* extension;  // of the job's data file
};

const SandboxRoad kSandboxRoads[] = {
    {"PostScriptUploaded", nullptr, &kPostScriptCases[0], nullptr, ".ps"},
    {"PdfUploaded", &kPdfCases[0], nullptr, nullptr, ".pdf"},
    {"RefusedLoginTellsTheNotifier", nullptr, nullptr, &kFailureCases[0], ".pdf"},
    {"ServerDown", nullptr, nullptr, &kFailureCases[2], ".pdf"},
};

void PrintTo(const SandboxRoad& road, std::ostream* out) {
  *out << road.name;
}

class SandboxedRoad : public Sandboxed, public testing::WithParamInterface<SandboxRoad> {};

TEST_P(SandboxedRoad, WorksWritingOnlyTheJobsFiles) {
  const SandboxRoad& road = GetParam();
  Job job = road.pdf          ? PrintPdfCase(*road.pdf)
            : road.postScript ? PrintPostScriptCase(*road.postScript)
                              : PrintFailureCase(*road.failure);
  // A write refused elsewhere would show in the backend's words.
  for (const std::string& words : {JobLog(), SchedulerLogOf(world_, job.id)})
    EXPECT_EQ(words.find("Read-only file system"), std::string::npos) << words;
  std::set<std::string> expected = {"/private/var/log/ cups/",
                                    "/private/var/log/ cups/vlog.txt",
                                    "/private/var/log/ cups/" + job.uuid + road.extension,
                                    "/private/var/log/ cups/" + job.uuid + ".ctl",
                                    "/private/var/run/ virtual-printer/",
                                    "/private/var/run/ virtual-printer/" + job.uuid + ".lock",
                                    "/private/var/spool/ VirtualFile",
                                    "/private/var/spool/ VirtualFile.txt"};
  EXPECT_EQ(WrittenPlaces(world_), expected);
}

INSTANTIATE_TEST_SUITE_P(Roads, SandboxedRoad, testing::ValuesIn(kSandboxRoads),
                         testing::PrintToStringParamName());

// ---- Queue status on request: a queue with status=on in its device URI tells people how the
// submission goes; one without shows what queues always showed. A job cancelled during its upload
// never reaches the server.

struct StatusRoad {
  const char* name;
  const char* brokenSetting;  // the settings entry made wrong, or none
  bool throttled;             // the upload goes to a server taking 500 KB a second
  bool cancelled;             // cancelled 1.5 s into the upload
  int state;                  // the job's state once the scheduler is done with it
  const char* message;        // the status queue's: the held job's message, else the queue's
  bool billed;                // 3 pages of 2 copies in page_log and job-impressions-completed
};

const StatusRoad kStatusRoads[] = {
    {"Uploaded", "", false, false, IPP_JSTATE_COMPLETED, "", true},
    {"RefusedLogin", "PassWord2", false, false, IPP_JSTATE_HELD,
     "The print server refused the login: log in with the client application, then release the "
     "held job",
     false},
    {"ServerDown", "ServerIp", false, false, IPP_JSTATE_PENDING,
     "The print server at 127.0.0.1:", false},
    {"MissingSettings", "UserName", false, false, IPP_JSTATE_PENDING,
     "The client application's settings hold no print server address, user name or password",
     false},
    {"ThrottledUpload", "", true, false, IPP_JSTATE_COMPLETED, "", true},
    {"CancelledDuringTheUpload", "", true, true, IPP_JSTATE_CANCELED, "", false},
};

bool BackendRunning() {
  for (const fs::directory_entry& process : fs::directory_iterator("/proc")) {
    if (ReadFile(process.path().string() + "/comm") == "virtual-printer\n")
      return true;
  }
  return false;
}

TEST_F(CupsRoad, QueueStatusOnRequest) {
  PrintServerProcess throttled;
  ASSERT_TRUE(throttled.start({"--user", "alice:s3cret", "--throttle", "500000"}));
  std::string document = "%!PS-Adobe-3.0\n%%Pages: 3\n%RBINumCopies: 2\n";
  // Loopback's socket buffers hold megabytes: a job cancelled mid-upload must be larger than them.
  auto sized = [&](size_t bytes) {
    std::string data = document;
    while (data.size() < bytes)
      data += "% a line of the job, to make the upload take a few seconds\n";
    return data;
  };
  const std::string large = sized(3u << 20);
  const std::string huge = sized(16u << 20);
  for (const StatusRoad& road : kStatusRoads) {
    for (bool statusOn : {true, false}) {
      std::string queue = std::string(statusOn ? "on-" : "off-") + road.name;
      SCOPED_TRACE(queue);
      auto settings = Credentials(world_);
      if (road.throttled)
        settings["ServerIp"] = throttled.address();
      if (std::string(road.brokenSetting) == "ServerIp")
        settings["ServerIp"] = "127.0.0.1:" + std::to_string(UnusedPort());
      else if (road.brokenSetting[0] != '\0')
        settings[road.brokenSetting] = std::string(road.brokenSetting) == "UserName" ? "" : "wrong";
      WriteSettings(settings);
      ASSERT_EQ(AddQueue(world_, queue, MakePpd("Generic PostScript Printer", true),
                         statusOn ? "virtual-printer:/?status=on" : "virtual-printer:/"),
                "");
      std::string file = world_.root + "/document-" + queue;
      WriteFile(file, road.cancelled ? huge : road.throttled ? large : document);
      size_t storedBefore = StoredJobs(throttled.store()).size();
      std::string error;
      int id = SubmitJob(queue, file, {"-t", "Status"}, error);
      ASSERT_GT(id, 0) << error;
      lastJob_ = id;

      auto submitted = std::chrono::steady_clock::now();
      auto since = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
      };
      std::set<std::string> progress;
      double startedAt = -1, cancelledAt = -1, goneAt = -1;
      JobOutcome outcome = AskJob(queue, id);
      while (since(submitted) < 60) {
        if (outcome.queueMessage.starts_with("Sending the job"))
          progress.insert(outcome.queueMessage);
        if (road.cancelled && startedAt < 0 && BackendRunning())
          startedAt = since(submitted);
        if (startedAt >= 0 && cancelledAt < 0 && since(submitted) > startedAt + 1.5) {
          EXPECT_EQ(RunCommand({"cancel", queue + "-" + std::to_string(id)}).status, 0);
          cancelledAt = since(submitted);
        }
        if (cancelledAt >= 0 && goneAt < 0 && !BackendRunning())
          goneAt = since(submitted);
        bool done = outcome.state >= IPP_JSTATE_CANCELED || outcome.state == IPP_JSTATE_HELD ||
                    (outcome.state == IPP_JSTATE_PENDING && outcome.queueStopped);
        if (done && (!road.cancelled || goneAt >= 0))
          break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        outcome = AskJob(queue, id);
      }

      EXPECT_EQ(outcome.state, road.state);
      const std::string& message =
          road.state == IPP_JSTATE_HELD ? outcome.jobMessage : outcome.queueMessage;
      if (statusOn && road.message[0] != '\0') {
        EXPECT_TRUE(message.starts_with(road.message)) << message;
      }
      if (!statusOn) {
        EXPECT_EQ(message.find("print server"), std::string::npos) << message;
      }
      bool billed = false;
      for (const std::string& line : Lines(ReadFile(world_.root + "/log/page_log")))
        billed = billed ||
                 (line.starts_with(queue + " ") && line.find(" total 6 ") != std::string::npos);
      EXPECT_EQ(billed, statusOn && road.billed);
      EXPECT_EQ(outcome.impressions, statusOn && road.billed ? 6 : 0);
      if (road.throttled && !road.cancelled && statusOn) {
        EXPECT_GE(progress.size(), 2u) << "progress seen while the upload ran";
      }
      if (road.cancelled) {
        ASSERT_GE(goneAt, 0) << "the backend still runs";
        std::printf("%s: backend gone %.2f s after the cancel\n", queue.c_str(),
                    goneAt - cancelledAt);
        EXPECT_LT(goneAt - cancelledAt, 2.0);
        // The server drops an upload cut off midway once it has read what reached it.
        auto cut = std::chrono::steady_clock::now();
        while (StoredJobs(throttled.store()).size() > storedBefore && since(cut) < 40)
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(StoredJobs(throttled.store()).size(), storedBefore) << "the job was stored";
      }
    }
  }
}

// ---- A queue that waits for its server: with wait=SECONDS in its device URI, a job whose server
// cannot be reached stays processing, the queue tells when the next try comes, and the job goes
// once the server answers; a cancel ends it at once. The same rows without the option show
// today's road: the queue stops at once.

enum class DuringTheWait {
  kServerComesUp,  // a server starts at the job's address a few seconds in
  kNothing,        // the server stays away past the wait
  kCancel,         // the job is cancelled
  kNewSettings,    // the user signs in: the settings name a server that answers, a new password
};

struct WaitRoad {
  const char* name;
  DuringTheWait during;
  int wait;       // the waiting queue's wait=; short where the wait must run out
  int state;      // the waiting queue's job, once the scheduler is done with it
  bool uploaded;  // by the waiting queue; without the option nothing ever is
};

const WaitRoad kWaitRoads[] = {
    {"ServerComesUp", DuringTheWait::kServerComesUp, 60, IPP_JSTATE_COMPLETED, true},
    {"ServerStaysDown", DuringTheWait::kNothing, 3, IPP_JSTATE_PENDING, false},
    {"CancelDuringTheWait", DuringTheWait::kCancel, 60, IPP_JSTATE_CANCELED, false},
    {"NewSettingsDuringTheWait", DuringTheWait::kNewSettings, 60, IPP_JSTATE_COMPLETED, true},
};

constexpr char kWaitingMark[] = ". Next try in ";

TEST_F(CupsRoad, QueueWaitsForAServerThatCannotBeReached) {
  const std::string document = "%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n";
  bool shownLpstat = false;
  for (const WaitRoad& road : kWaitRoads) {
    for (bool waiting : {true, false}) {
      const std::string queue = std::string(waiting ? "wait-" : "nowait-") + road.name;
      SCOPED_TRACE(queue);
      const std::string uri = waiting
                                  ? "virtual-printer:/?status=on&wait=" + std::to_string(road.wait)
                                  : "virtual-printer:/?status=on";
      const int port = UnusedPort();
      const std::string address = "127.0.0.1:" + std::to_string(port);
      auto settings = Credentials(world_);
      settings["ServerIp"] = address;
      if (road.during == DuringTheWait::kNewSettings)
        settings["PassWord2"] = "expired";
      WriteSettings(settings);
      ASSERT_EQ(AddQueue(world_, queue, MakePpd("Generic PostScript Printer", true), uri), "");
      std::string uuid = NextUuid();
      std::string file = world_.root + "/document-" + queue;
      WriteFile(file, document);
      size_t notifiedBefore = Notifications(world_).size();
      std::string error;
      int id = SubmitJob(queue, file, {"-t", "Wait", "-o", "job-uuid=urn:uuid:" + uuid}, error);
      ASSERT_GT(id, 0) << error;
      lastJob_ = id;

      auto submitted = std::chrono::steady_clock::now();
      auto since = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
      };
      PrintServerProcess late;
      bool acted = false, sawWaiting = false, everStopped = false;
      double cancelledAt = -1, goneAt = -1, doneAt = -1;
      std::string waitingMessage;
      std::vector<std::string> waitingReasons;
      JobOutcome outcome = AskJob(queue, id);
      while (since(submitted) < 60) {
        everStopped = everStopped || outcome.queueStopped;
        bool waitsNow = outcome.queueMessage.find(kWaitingMark) != std::string::npos;
        if (waitsNow && !sawWaiting) {
          sawWaiting = true;
          waitingMessage = outcome.queueMessage;
          waitingReasons = outcome.queueReasons;
          EXPECT_TRUE(BackendRunning()) << "the backend waits for the server";
          if (!shownLpstat) {
            shownLpstat = true;
            std::printf("--- lpstat -l -p %s, while the job waits\n%s", queue.c_str(),
                        RunCommand({"lpstat", "-l", "-p", queue}).output.c_str());
            std::printf("--- lpstat -l -o %s, while the job waits\n%s", queue.c_str(),
                        RunCommand({"lpstat", "-l", "-o", queue}).output.c_str());
          }
        }
        bool done = outcome.state >= IPP_JSTATE_CANCELED ||
                    (outcome.state == IPP_JSTATE_PENDING && outcome.queueStopped);
        // With the wait, act while the job waits; without, once the queue has stopped.
        bool actNow = !acted && (waiting ? sawWaiting : done);
        if (actNow && road.during == DuringTheWait::kServerComesUp &&
            (!waiting || since(submitted) >= 2)) {
          EXPECT_TRUE(late.start({"--port", std::to_string(port), "--user", "alice:s3cret"}));
          acted = true;
        } else if (actNow && road.during == DuringTheWait::kNewSettings) {
          WriteSettings(Credentials(world_));
          acted = true;
        } else if (actNow && road.during == DuringTheWait::kCancel) {
          EXPECT_EQ(RunCommand({"cancel", queue + "-" + std::to_string(id)}).status, 0);
          cancelledAt = since(submitted);
          acted = true;
        } else if (actNow && road.during == DuringTheWait::kNothing) {
          acted = true;
        }
        if (cancelledAt >= 0 && goneAt < 0 && !BackendRunning())
          goneAt = since(submitted);
        bool cancelled = road.during == DuringTheWait::kCancel;
        bool finished =
            done && acted && (!cancelled || (goneAt >= 0 && outcome.state >= IPP_JSTATE_CANCELED));
        if (finished) {
          doneAt = since(submitted);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        outcome = AskJob(queue, id);
      }
      ASSERT_GE(doneAt, 0) << "the scheduler was not done with the job within 60 s";

      size_t uploads = StoredUpload(world_, uuid + ".ps").empty() ? 0 : 1;
      for (const std::string& job : StoredJobs(late.store()))
        uploads += FileExists(job + "/" + uuid + ".ps") ? 1 : 0;
      size_t notified = Notifications(world_).size() - notifiedBefore;
      const std::string todays = "The print server at " + address +
                                 " cannot be reached: Couldn't connect to server. Check the server "
                                 "address and the network, then resume the printer";
      std::printf("%s: done after %.2f s\n", queue.c_str(), doneAt);
      if (waiting) {
        EXPECT_TRUE(sawWaiting) << "the queue never showed the wait";
        EXPECT_TRUE(waitingMessage.starts_with("The print server at " + address +
                                               " cannot be reached: Couldn't connect to server. "
                                               "Next try in "))
            << waitingMessage;
        EXPECT_EQ(waitingMessage.find("s3cret"), std::string::npos);
        EXPECT_TRUE(Contains(waitingReasons, "connecting-to-device")) << waitingMessage;
        EXPECT_EQ(outcome.state, road.state);
        EXPECT_EQ(uploads, road.uploaded ? 1u : 0u);
        // Only a wait that runs out stops the queue, as today, and tells the notifier.
        bool runsOut = road.state == IPP_JSTATE_PENDING;
        EXPECT_EQ(everStopped, runsOut);
        EXPECT_EQ(notified, runsOut ? 1u : 0u);
        if (runsOut) {
          EXPECT_EQ(outcome.queueMessage, todays);
          EXPECT_GE(doneAt, road.wait);
          EXPECT_LT(doneAt, road.wait + 2.0);
        }
        if (road.during == DuringTheWait::kCancel) {
          std::printf("%s: backend gone %.2f s after the cancel\n", queue.c_str(),
                      goneAt - cancelledAt);
          EXPECT_LT(goneAt - cancelledAt, 1.0);
        }
      } else {
        // Today's road: the queue stops at once, whatever comes after.
        EXPECT_FALSE(sawWaiting) << outcome.queueMessage;
        EXPECT_TRUE(everStopped);
        EXPECT_EQ(outcome.state,
                  road.during == DuringTheWait::kCancel ? IPP_JSTATE_CANCELED : IPP_JSTATE_PENDING);
        EXPECT_EQ(outcome.queueMessage, todays);
        EXPECT_EQ(uploads, 0u);
        EXPECT_EQ(notified, 1u);
        EXPECT_LT(doneAt, 2.0);
      }
      // The job's files stay in every case.
      EXPECT_EQ(InLogDir(uuid + ".ps"), document);
      EXPECT_EQ(Lines(InLogDir(uuid + ".ctl")).size(), 9u);
      RunCommand({"cancel", "-a", queue});
    }
  }
}

}  // namespace

// ---- Installation: cmake --install puts the backend where CUPS looks for it, in the form CUPS
// runs as root, and the scheduler's device listing then offers it.

TEST_F(CupsRoad, InstalledBackendIsListedByTheScheduler) {
  if (!fs::exists(world_.serverBin + "/daemon/cups-deviced"))
    GTEST_SKIP() << "lpinfo needs cups-deviced, from the full cups package (scripts/setup.sh)";
  CommandResult serverBin = RunCommand({"cups-config", "--serverbin"});
  ASSERT_EQ(serverBin.status, 0) << serverBin.output;
  ASSERT_FALSE(serverBin.output.empty());
  std::string destdir = world_.root + "/destdir";
  setenv("DESTDIR", destdir.c_str(), 1);
  CommandResult install = RunCommand({VP_CMAKE, "--install", VP_BINARY_DIR});
  unsetenv("DESTDIR");
  ASSERT_EQ(install.status, 0) << install.output;

  std::string installed = destdir + Lines(serverBin.output)[0] + "/backend/virtual-printer";
  struct stat info {};
  ASSERT_EQ(stat(installed.c_str(), &info), 0) << "nothing installed as " << installed;
  EXPECT_EQ(info.st_mode & 07777, 0700u) << "CUPS runs a backend as root only with mode 0700";
  std::string backend = world_.serverBin + "/backend/virtual-printer";
  ASSERT_TRUE(fs::copy_file(installed, backend, fs::copy_options::overwrite_existing));

  CommandResult listing = RunCommand({"lpinfo", "-v"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_TRUE(Contains(Lines(listing.output), "file virtual-printer:/")) << listing.output;
}

}  // namespace vp
