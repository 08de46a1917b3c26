// Measures each stage of the backend against what the machine itself does with the same data:
// spooling against cat, the marker scans against grep -F, the PJL wrap against cat, the upload
// against curl, and whole jobs against the sum of those. Baselines and backend run in the same
// invocation, their repetitions shuffled together, so a busy machine slows both alike.
//
//   stage_bench [--size=100M] [--memory=10M,1G] [--repetitions=5] [--work=DIR] [--report=FILE]
//               [--machine=TEXT] [--command=TEXT] [--smoke] [benchmark flags...]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "attributes/print_file_parsers.h"
#include "backend/spool.h"
#include "bench/bench_inputs.h"
#include "bench/bench_process.h"
#include "bench/bench_report.h"
#include "dispatch/parser_selection.h"
#include "dispatch/pjl_wrapper.h"
#include "submit/login.h"
#include "submit/upload.h"
#include "util/paths.h"
#include "util/safe_file.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSmallJob = 10 << 10;
constexpr uint64_t kBytesPerMeasure = 64 << 20;  // small inputs are run this much per repetition
constexpr int kMaxIterations = 100;
constexpr size_t kRunLoopBlock = 8192;
constexpr char kUser[] = "alice";
constexpr char kPassword[] = "bench-secret";
constexpr char kTitle[] = "quarterly-report";
constexpr char kUploadName[] = "bench-upload.ps";
// The envelope of a one-sided PDF job with this title and one copy.
constexpr char kPjlHeader[] =
    "\x1b%-12345X@PJL JOB NAME=quarterly-report\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n"
    "@PJL ENTER LANGUAGE=PDF\n";
constexpr char kPjlTrailer[] = "\x1b%-12345X@PJL EOJ+\n%-12345X";

struct Config {
  uint64_t size = 100 << 20;
  std::vector<uint64_t> memorySizes = {10 << 20, uint64_t{1} << 30};
  int repetitions = 5;
  std::string work = VP_BENCH_WORK;
  std::string report;
  std::string machine;
  std::string command = "bench/run.sh";
  bool smoke = false;
};

// What the benchmarks share, made once before they run.
struct Bench {
  Config config;
  std::string ps;     // the PostScript job of the chosen size
  std::string pdf;    // the PDF job of about the same size
  std::string pclxl;  // a PCL XL job of about the same size
  std::string small;  // the 10 KB PostScript job
  std::string header;
  std::string trailer;
  std::string store;
  std::string server;  // 127.0.0.1:port
  std::string token;
  int devNull = -1;
  SafeOutFile log;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

uint64_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

// ---- flags

// "10M,1G" -> sizes; a piece that is not a size gives 0, which the caller refuses.
std::vector<uint64_t> ParseSizes(const std::string& text) {
  std::vector<uint64_t> sizes;
  for (size_t at = 0; at < text.size();) {
    size_t comma = std::min(text.find(',', at), text.size());
    sizes.push_back(ParseSize(text.substr(at, comma - at)));
    at = comma + 1;
  }
  return sizes;
}

bool SetFlag(Config& config, const std::string& flag) {
  auto value = [&](const char* name) -> const char* {
    std::string prefix = std::string(name) + "=";
    return flag.rfind(prefix, 0) == 0 ? flag.c_str() + prefix.size() : nullptr;
  };
  if (flag == "--smoke") {
    config.smoke = true;
  } else if (const char* v = value("--size")) {
    config.size = ParseSize(v);
  } else if (const char* v = value("--memory")) {
    config.memorySizes = ParseSizes(v);
  } else if (const char* v = value("--repetitions")) {
    config.repetitions = std::max(1, atoi(v));
  } else if (const char* v = value("--work")) {
    config.work = v;
  } else if (const char* v = value("--report")) {
    config.report = v;
  } else if (const char* v = value("--machine")) {
    config.machine = v;
  } else if (const char* v = value("--command")) {
    config.command = v;
  } else {
    return false;
  }
  return true;
}

// Takes our flags out of argv and leaves Google Benchmark's.
bool ParseFlags(int& argc, char** argv, Config& config) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (flag.rfind("--benchmark_", 0) == 0) {
      argv[kept++] = argv[i];
    } else if (!SetFlag(config, flag)) {
      std::cerr << "stage_bench: unknown flag " << flag << "\n";
      return false;
    }
  }
  argc = kept;
  for (uint64_t size : config.memorySizes) {
    if (size == 0)
      return false;
  }
  return config.size > 0;
}

// ---- set-up

std::string MakeInput(const std::string& dir, const std::string& kind, uint64_t size) {
  std::string path = dir + "/" + kind + "-" + SizeName(size) +
                     (kind == "pdf"     ? ".pdf"
                      : kind == "pclxl" ? ".pxl"
                                        : ".ps");
  if (FileSize(path) > 0)
    return path;
  std::cout << "making " << path << std::endl;
  bool made = kind == "pdf"     ? MakePdfJob(path + ".part", size)
              : kind == "pclxl" ? MakePclXlJob(path + ".part", size)
                                : MakePostScriptJob(path + ".part", size);
  if (!made || rename((path + ".part").c_str(), path.c_str()) != 0)
    return "";
  return path;
}

bool WriteText(const std::string& path, const std::string& text) {
  SafeOutFile out;
  if (!out.open(path, 0644))
    return false;
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

std::string SettingsPlist(const std::string& server) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n<key>quoradex</key>\n<dict>\n"
         "<key>PassWord2</key><string>" +
         std::string(kPassword) + "</string>\n<key>ServerIp</key><string>" + server +
         "</string>\n<key>UserName</key><string>" + kUser +
         "</string>\n</dict>\n</dict>\n</plist>\n";
}

std::string Login(Bench& b) {
  std::ostringstream quiet;
  return JudgeLogin(authByUserName(quiet, b.server, kUser, kPassword)).token;
}

// Runs `call` with standard output thrown away and standard error into a drained pipe, the streams
// the scheduler gives the backend; console output of the benchmarks resumes afterwards.
void WithBackendStreams(Bench& b, const std::function<void()>& call) {
  Drain err;
  StartDrain(err);
  std::cout.flush();
  fflush(stdout);
  int savedOut = dup(1);
  int savedErr = dup(2);
  dup2(b.devNull, 1);
  dup2(err.fd, 2);
  call();
  std::cout.flush();
  fflush(stdout);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  StopDrain(err);
}

bool SetUp(Bench& b, ServerProcess& server) {
  const Config& c = b.config;
  std::string inputs = c.work + "/inputs";
  fs::create_directories(inputs);
  fs::create_directories(paths::kLogDir);
  fs::create_directories(fs::path(paths::kLockDir).parent_path().parent_path());
  fs::create_directories(fs::path(paths::kSettingsFile).parent_path());
  b.ps = MakeInput(inputs, "ps", c.size);
  b.pdf = MakeInput(inputs, "pdf", c.size);
  b.pclxl = MakeInput(inputs, "pclxl", c.size);
  b.small = MakeInput(inputs, "ps", kSmallJob);
  for (uint64_t size : c.memorySizes) {
    if (MakeInput(inputs, "ps", size).empty() || MakeInput(inputs, "pdf", size).empty())
      return false;
  }
  b.header = c.work + "/pjl-header";
  b.trailer = c.work + "/pjl-trailer";
  b.store = c.work + "/server-store";
  b.devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  fs::remove_all(b.store);
  std::string uploadPath = std::string(paths::kLogDir) + kUploadName;
  fs::remove(uploadPath);
  bool ready = !b.ps.empty() && !b.pdf.empty() && !b.pclxl.empty() && !b.small.empty() &&
               link(b.ps.c_str(), uploadPath.c_str()) == 0 && WriteText(b.header, kPjlHeader) &&
               WriteText(b.trailer, kPjlTrailer) && b.log.open(c.work + "/bench-log.txt", 0644);
  if (!ready)
    return false;
  if (!StartServer(
          server, VP_PRINT_SERVER,
          {"--store", b.store, "--port", "0", "--user", std::string(kUser) + ":" + kPassword})) {
    std::cerr << "stage_bench: the print server did not start\n";
    return false;
  }
  b.server = "127.0.0.1:" + std::to_string(server.port);
  // The login prints libcurl's trace and the answer, which have no place on the console.
  WithBackendStreams(b, [&b] { b.token = Login(b); });
  return !b.token.empty() && WriteText(paths::kSettingsFile, SettingsPlist(b.server));
}

// Every upload the server kept, emptied again so that big runs do not fill the disk; returns the
// bytes of the largest file among them.
uint64_t TakeStoredUploads(const std::string& store) {
  uint64_t largest = 0;
  std::error_code error;
  for (const fs::directory_entry& job : fs::directory_iterator(store, error)) {
    for (const fs::directory_entry& file : fs::directory_iterator(job.path(), error)) {
      if (file.is_regular_file(error))
        largest = std::max<uint64_t>(largest, file.file_size(error));
    }
    fs::remove_all(job.path(), error);
  }
  return largest;
}

// ---- the measured operations; each returns its error, or empty when it did its job

using Operation = std::function<std::string(Bench&, double& seconds)>;

// `cat input` into a pipe, as the scheduler's filters feed a backend.
pid_t Feed(const std::string& input, int pipeEnd) {
  return Spawn({"cat", input}, BaselineEnvironment(), {-1, pipeEnd, -1});
}

std::string SpoolBackend(Bench& b, double& seconds) {
  int ends[2];
  if (!MakePipe(ends))
    return "pipe";
  OptionsMap options = {{"job-uuid", "urn:uuid:bench-spool"}};
  int savedIn = dup(0);
  dup2(ends[0], 0);
  close(ends[0]);
  // Every job gets a new data file, named after its UUID.
  unlink(FixedJobFiles().Path("bench-spool.ps").c_str());
  SpoolResult spool;
  Clock::time_point start = Clock::now();
  pid_t feeder = Feed(b.ps, ends[1]);
  close(ends[1]);
  WithBackendStreams(b, [&] { spool = SpoolPrintData(b.log, FixedJobFiles(), 0, options); });
  Exit fed = Wait(feeder);
  seconds = SecondsSince(start);
  dup2(savedIn, 0);
  close(savedIn);
  bool whole = spool.copiedBytes >= 0 &&
               FileSize(FixedJobFiles().Path(spool.dataFileName)) == FileSize(b.ps);
  return fed.status == 0 && whole ? "" : "spooled data incomplete";
}

std::string SpoolCat(Bench& b, double& seconds) {
  int ends[2];
  if (!MakePipe(ends))
    return "pipe";
  std::string outPath = std::string(paths::kLogDir) + "bench-cat.ps";
  unlink(outPath.c_str());
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Clock::time_point start = Clock::now();
  pid_t feeder = Feed(b.ps, ends[1]);
  pid_t cat = Spawn({"cat"}, BaselineEnvironment(), {ends[0], out, -1});
  close(ends[0]);
  close(ends[1]);
  close(out);
  bool ok = Wait(feeder).status == 0 && Wait(cat).status == 0;
  seconds = SecondsSince(start);
  return ok && FileSize(outPath) == FileSize(b.ps) ? "" : "cat failed";
}

// The copy loop alone: 8 KiB blocks from a 1 MiB pipe as the run loop reads them, and nothing
// else, to tell the block size's share of the spooling time from that of the status lines.
std::string CopyLoop(const std::string& input, const std::string& outPath, double& seconds) {
  int ends[2];
  if (!MakePipe(ends))
    return "pipe";
  unlink(outPath.c_str());
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Clock::time_point start = Clock::now();
  fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
  pid_t feeder = Feed(input, ends[1]);
  close(ends[1]);
  char block[kRunLoopBlock];
  bool ok = out >= 0;
  for (ssize_t n; ok && (n = read(ends[0], block, sizeof block)) > 0;)
    ok = write(out, block, static_cast<size_t>(n)) == n;
  ok = Wait(feeder).status == 0 && ok;
  seconds = SecondsSince(start);
  close(ends[0]);
  close(out);
  return ok ? "" : "copy failed";
}

std::string SpoolBareLoop(Bench& b, double& seconds) {
  return CopyLoop(b.ps, std::string(paths::kLogDir) + "bench-loop.ps", seconds);
}

struct Family {
  const char* name;
  std::function<JobInfo(std::ostream&, const std::string&)> parse;
  std::vector<std::string> markers;
};

const std::vector<Family>& Families() {
  static const std::string kPages = "%%Pages: ";
  static const std::string kCopies = "%RBINumCopies: ";
  static const std::string kColorModel = "%%BeginFeature: *ColorModel ";
  static const std::string kGrayscale = "@PJL SET GRAYSCALE=";
  static const std::string kSelectColor = "%%BeginFeature: *SelectColor ";
  static const std::string kDuplex = "%%BeginFeature: *Duplex ";
  static const std::string kKMDuplex = "%%BeginFeature: *KMDuplex ";
  static const std::vector<Family> families = {
      {"other",
       [](std::ostream& log, const std::string& p) { return GetPrintFile_Other(log, p); },
       {kPages, kCopies, kColorModel, kGrayscale, kSelectColor, kDuplex, kKMDuplex}},
      {"quoradex",
       [](std::ostream&, const std::string& p) { return GetPrintFile_Quoradex(p); },
       {kPages, kCopies, kColorModel, kDuplex}},
      {"hp",
       [](std::ostream&, const std::string& p) { return GetPrintFile_HP(p); },
       {kPages, kCopies, kGrayscale, kDuplex}},
      {"km",
       [](std::ostream&, const std::string& p) { return GetPrintFile_KM(p); },
       {kPages, kCopies, kSelectColor, kKMDuplex}},
  };
  return families;
}

Operation ScanBackend(const Family& family) {
  return [&family](Bench& b, double& seconds) -> std::string {
    JobInfo job;
    Clock::time_point start = Clock::now();
    WithBackendStreams(b, [&] { job = family.parse(b.log, b.ps); });
    seconds = SecondsSince(start);
    return job.pages.empty() || job.pages == "0" ? "no page count found" : "";
  };
}

Operation ScanGrep(const Family& family) {
  return [&family](Bench& b, double& seconds) -> std::string {
    std::vector<std::string> argv = {"grep", "-F", "-c"};
    for (const std::string& marker : family.markers) {
      argv.push_back("-e");
      argv.push_back(marker);
    }
    argv.push_back(b.ps);
    // Not /dev/null: grep stops at the first match when nobody can read what it prints.
    std::string countPath = b.config.work + "/grep-count";
    int count = open(countPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Clock::time_point start = Clock::now();
    bool found = Run(argv, BaselineEnvironment(), {-1, count, -1});
    seconds = SecondsSince(start);
    close(count);
    return found ? "" : "grep found nothing";
  };
}

std::string WrapBackend(Bench& b, double& seconds) {
  // Wrapped again at every run: the envelopes pile up, a hundred bytes each.
  const std::string path = b.config.work + "/wrap-" + fs::path(b.pdf).filename().string();
  if (FileSize(path) == 0 && !fs::copy_file(b.pdf, path, fs::copy_options::overwrite_existing))
    return "no copy of the PDF";
  uint64_t before = FileSize(path);
  Clock::time_point start = Clock::now();
  WithBackendStreams(b, [&] {
    AddContentToBeginning(path, kPjlHeader);
    AddContentToEnd(path, kPjlTrailer);
  });
  seconds = SecondsSince(start);
  bool wrapped = FileSize(path) == before + strlen(kPjlHeader) + strlen(kPjlTrailer);
  return wrapped ? "" : "wrap failed";
}

std::string WrapCat(Bench& b, double& seconds) {
  std::string outPath = b.config.work + "/wrap-cat.pdf";
  unlink(outPath.c_str());
  Clock::time_point start = Clock::now();
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = Run({"cat", b.header, b.pdf, b.trailer}, BaselineEnvironment(), {-1, out, -1});
  close(out);
  seconds = SecondsSince(start);
  return ok ? "" : "cat failed";
}

JobInfo UploadedJob() {
  JobInfo job;
  job.documentName = kTitle;
  job.pages = "12";
  job.copies = "2";
  job.paper = "A4";
  job.color = "Color";
  job.duplex = "TwoSided";
  job.orientation = "Portrait";
  job.driverName = "Office Laser 4200 PS";
  return job;
}

// A PDF job arrives with its PJL envelope, so at least the input's bytes must have been stored.
std::string CheckStored(Bench& b, uint64_t least) {
  return TakeStoredUploads(b.store) >= least ? "" : "the server did not store the whole file";
}

std::string UploadBackend(Bench& b, double& seconds) {
  JobInfo job = UploadedJob();
  Clock::time_point start = Clock::now();
  bool sent = uploadFileToQuoradexV2(b.log, FixedJobFiles(), b.server, b.token, job, kUploadName)
                  .outcome.ok();
  seconds = SecondsSince(start);
  std::string stored = CheckStored(b, FileSize(b.ps));
  return sent ? stored : "upload failed";
}

std::vector<std::string> CurlUpload(Bench& b, const std::string& file) {
  return {"curl",
          "-sS",
          "-o",
          "/dev/null",
          "--form-string",
          "token=" + b.token,
          "--form-string",
          "printProperties=" + printProperties(UploadedJob()),
          "-F",
          "uploadfile=@" + file + ";type=application/octet-stream",
          "http://" + b.server + "/quoradex/printservice/fileupload"};
}

std::string UploadCurl(Bench& b, double& seconds) {
  std::string file = std::string(paths::kLogDir) + kUploadName;
  Clock::time_point start = Clock::now();
  bool sent = Run(CurlUpload(b, file), BaselineEnvironment(), {});
  seconds = SecondsSince(start);
  std::string stored = CheckStored(b, FileSize(b.ps));
  return sent ? stored : "curl failed";
}

// The scheduler's environment: 28 entries, the printer model at index 28, one more after it.
std::vector<std::string> BackendEnvironment() {
  std::vector<std::string> env = {std::string("PATH=") + VP_PLUTIL_DIR + ":/usr/bin:/bin",
                                  "LANG=C"};
  while (env.size() < 28)
    env.push_back("CUPS_VAR" + std::to_string(env.size()) + "=x");
  env.push_back("PRINTER_MODEL=Office Laser 4200 PS");
  env.push_back("CUPS_SERVERROOT=/etc/cups");
  return env;
}

// Peak resident memory that vp_peak_rss wrote, in kB; -1 when there is none.
double ReadPeak(const std::string& path) {
  std::ifstream in(path);
  double kb = -1;
  in >> kb;
  return in ? kb : -1;
}

// One whole job: print data on standard input (fed through a pipe, or the file itself when
// `feed` is false), status lines into a drained pipe; the exit status must be 0. With a `peakFile`
// the backend runs under vp_peak_rss, which writes its peak memory there.
std::string RunJob(Bench& b, const std::string& input, bool feed, const std::string& peakFile,
                   double& seconds) {
  int ends[2];
  if (!MakePipe(ends))
    return "pipe";
  Drain err;
  StartDrain(err);
  std::vector<std::string> argv = {VP_BENCH_BACKEND, "42", kUser,
                                   kTitle,           "1",  "job-uuid=urn:uuid:bench-job"};
  if (!peakFile.empty())
    argv.insert(argv.begin(), {VP_PEAK_RSS, peakFile});
  for (const char* extension : {".ps", ".pdf", ".ctl"})
    unlink((std::string(paths::kLogDir) + "bench-job" + extension).c_str());
  Clock::time_point start = Clock::now();
  pid_t feeder = -1;
  int in = ends[0];
  if (feed) {
    feeder = Feed(input, ends[1]);
  } else {
    in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  }
  close(ends[1]);
  pid_t backend = Spawn(argv, BackendEnvironment(), {in, -1, err.fd});
  close(ends[0]);
  if (!feed)
    close(in);
  Exit exit = Wait(backend);
  bool fed = !feed || Wait(feeder).status == 0;
  seconds = SecondsSince(start);
  StopDrain(err);
  std::string stored = CheckStored(b, FileSize(input));
  if (exit.status != 0 || !fed)
    return "the backend ended with status " + std::to_string(exit.status);
  return stored;
}

Operation WholeJob(const std::string Bench::*input, bool feed) {
  return
      [input, feed](Bench& b, double& seconds) { return RunJob(b, b.*input, feed, "", seconds); };
}

std::string SmallCurl(Bench& b, double& seconds) {
  std::string login = "http://" + b.server +
                      "/quoradex/printservice/authbyuserpwd2?username=" + kUser +
                      "&pwd=" + kPassword + "&mac=00";
  Clock::time_point start = Clock::now();
  bool ok = Run({"curl", "-sS", "-o", "/dev/null", login}, BaselineEnvironment(), {}) &&
            Run(CurlUpload(b, b.small), BaselineEnvironment(), {});
  seconds = SecondsSince(start);
  std::string stored = CheckStored(b, FileSize(b.small));
  return ok ? stored : "curl failed";
}

// ---- registration

// Spooling's floor and the attributes stage of a job, one after the other: the copy loop, then
// parser selection, which reads the copy once for the markers and the page language together.
Operation OnePassBackend(const std::string Bench::*input, const char* name) {
  return [input, name](Bench& b, double& seconds) -> std::string {
    const std::string copy = std::string(paths::kLogDir) + "bench-onepass-" + name + ".pjl";
    std::string error = CopyLoop(b.*input, copy, seconds);
    JobInfo job;
    Clock::time_point start = Clock::now();
    WithBackendStreams(
        b, [&] { job = SelectParser(b.log, ".pjl", copy, "unknown", "t", 1, PpdFile()); });
    seconds += SecondsSince(start);
    return !error.empty()                          ? error
           : job.pages.empty() || job.pages == "0" ? "no page count found"
                                                   : "";
  };
}

// The same floor with grep -F for the generic parser's markers over the copy.
Operation OnePassGrep(const std::string Bench::*input, const char* name) {
  return [input, name](Bench& b, double& seconds) -> std::string {
    const std::string copy = std::string(paths::kLogDir) + "bench-onepass-grep-" + name + ".pjl";
    std::string error = CopyLoop(b.*input, copy, seconds);
    std::vector<std::string> argv = {"grep", "-F", "-c"};
    for (const std::string& marker : Families().front().markers) {
      argv.push_back("-e");
      argv.push_back(marker);
    }
    argv.push_back(copy);
    std::string countPath = b.config.work + "/grep-count";
    int count = open(countPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Clock::time_point start = Clock::now();
    // grep's status 1 (no marker in a PCL XL job) is no failure here.
    Run(argv, BaselineEnvironment(), {-1, count, -1});
    seconds += SecondsSince(start);
    close(count);
    return error;
  };
}

int Iterations(const Config& config, uint64_t bytes) {
  if (config.smoke)
    return 1;
  return static_cast<int>(
      std::clamp<uint64_t>(kBytesPerMeasure / std::max<uint64_t>(bytes, 1), 1, kMaxIterations));
}

void Register(Bench& b, const std::string& name, uint64_t bytes, Operation operation) {
  int repetitions = b.config.smoke ? 1 : b.config.repetitions;
  benchmark::RegisterBenchmark(
      name.c_str(),
      [&b, bytes, operation](benchmark::State& state) {
        for (auto _ : state) {
          double seconds = 0;
          std::string error = operation(b, seconds);
          if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
          }
          state.SetIterationTime(seconds);
        }
        state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
        state.counters["bytes"] = static_cast<double>(bytes);
      })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(Iterations(b.config, bytes))
      ->Repetitions(repetitions);
}

// Peak memory of a whole job: one run under vp_peak_rss, the figure `time -v` would show.
void MeasureMemory(Bench& b, const std::string& input, benchmark::State& state) {
  const std::string peakFile = b.config.work + "/peak-rss";
  for (auto _ : state) {
    double seconds = 0;
    unlink(peakFile.c_str());
    std::string error = RunJob(b, input, true, peakFile, seconds);
    double kb = ReadPeak(peakFile);
    if (error.empty() && kb < 0)
      error = "no memory figure";
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(seconds);
    state.counters["max_rss_kB"] = kb;
  }
}

// The same for the backend listing its device: no job, only the program and its libraries.
void MeasureIdleMemory(Bench& b, benchmark::State& state) {
  const std::string peakFile = b.config.work + "/peak-rss";
  for (auto _ : state) {
    unlink(peakFile.c_str());
    Clock::time_point start = Clock::now();
    bool listed = Run({VP_PEAK_RSS, peakFile, VP_BENCH_BACKEND}, BackendEnvironment(), {});
    state.SetIterationTime(SecondsSince(start));
    double kb = ReadPeak(peakFile);
    if (!listed || kb < 0) {
      state.SkipWithError("the device listing failed");
      break;
    }
    state.counters["max_rss_kB"] = kb;
  }
}

void RegisterMemory(Bench& b, const std::string& kind, uint64_t size) {
  std::string name = "memory/" + kind + "-" + SizeName(size);
  std::string input =
      b.config.work + "/inputs/" + kind + "-" + SizeName(size) + (kind == "pdf" ? ".pdf" : ".ps");
  benchmark::RegisterBenchmark(
      name.c_str(), [&b, input](benchmark::State& state) { MeasureMemory(b, input, state); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(1);
}

void RegisterAll(Bench& b) {
  const uint64_t ps = FileSize(b.ps);
  const uint64_t pdf = FileSize(b.pdf);
  Register(b, "spool/backend", ps, SpoolBackend);
  Register(b, "spool/cat", ps, SpoolCat);
  Register(b, "spool/8k-loop", ps, SpoolBareLoop);
  for (const Family& family : Families()) {
    Register(b, std::string("scan/") + family.name, ps, ScanBackend(family));
    Register(b, std::string("scan/grep-") + family.name, ps, ScanGrep(family));
  }
  Register(b, "onepass-ps/backend", ps, OnePassBackend(&Bench::ps, "ps"));
  Register(b, "onepass-ps/grep", ps, OnePassGrep(&Bench::ps, "ps"));
  Register(b, "onepass-pclxl/backend", FileSize(b.pclxl), OnePassBackend(&Bench::pclxl, "pclxl"));
  Register(b, "onepass-pclxl/grep", FileSize(b.pclxl), OnePassGrep(&Bench::pclxl, "pclxl"));
  Register(b, "wrap/backend", pdf, WrapBackend);
  Register(b, "wrap/cat", pdf, WrapCat);
  Register(b, "upload/backend", ps, UploadBackend);
  Register(b, "upload/curl", ps, UploadCurl);
  Register(b, "job-ps/backend", ps, WholeJob(&Bench::ps, true));
  Register(b, "job-pdf/backend", pdf, WholeJob(&Bench::pdf, true));
  Register(b, "small/backend", FileSize(b.small), WholeJob(&Bench::small, false));
  Register(b, "small/curl", FileSize(b.small), SmallCurl);
  benchmark::RegisterBenchmark("memory/no-job",
                               [&b](benchmark::State& state) { MeasureIdleMemory(b, state); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(1);
  for (uint64_t size : b.config.memorySizes) {
    RegisterMemory(b, "ps", size);
    RegisterMemory(b, "pdf", size);
  }
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::string Today() {
  char text[64] = {};
  time_t now = time(nullptr);
  struct tm utc {};
  gmtime_r(&now, &utc);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
  return text;
}

// A benchmark of the backend that failed means the program has rotted; a missing baseline tool
// only leaves a gap in the table.
bool BackendFailed(const Measures& measures) {
  for (const auto& [name, measure] : measures) {
    bool baseline = name.find("/cat") != std::string::npos ||
                    name.find("/grep") != std::string::npos ||
                    name.find("/curl") != std::string::npos;
    if (!measure.error.empty() && !baseline)
      return true;
  }
  return false;
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char** argv) {
  Bench b;
  if (!ParseFlags(argc, argv, b.config)) {
    std::cerr << "usage: stage_bench [--size=N[K|M|G]] [--memory=N,N] [--repetitions=N] "
                 "[--work=DIR] [--report=FILE] [--smoke] [--benchmark_...]\n";
    return 2;
  }
  const std::string loadAtStart = LoadAverage();
  ServerProcess server;
  if (!SetUp(b, server)) {
    std::cerr << "stage_bench: set-up failed\n";
    StopServer(server);
    return 1;
  }
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RegisterAll(b);
  CollectingReporter reporter(b.config.smoke);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  StopServer(server);

  ReportFacts facts;
  facts.command = b.config.command;
  facts.date = Today();
  facts.machine = b.config.machine;
  facts.size = FileSize(b.ps);
  facts.pdfSize = FileSize(b.pdf);
  facts.smallSize = FileSize(b.small);
  facts.memorySizes = b.config.memorySizes;
  facts.repetitions = b.config.smoke ? 1 : b.config.repetitions;
  facts.loadAtStart = loadAtStart;
  facts.loadAtEnd = LoadAverage();
  if (!b.config.report.empty() &&
      !WriteText(b.config.report, MarkdownReport(facts, reporter.measures()))) {
    std::cerr << "stage_bench: cannot write " << b.config.report << "\n";
    return 1;
  }
  return BackendFailed(reporter.measures()) ? 1 : 0;
}
