#include "bench/bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "bench/bench_inputs.h"

namespace vp {

namespace {

// One line of the table: the backend's benchmarks against the sum of the baselines' ones.
struct Row {
  const char* stage;
  const char* backendLabel;
  std::vector<const char*> backend;
  const char* baselineLabel;
  std::vector<const char*> baseline;
  double aim;  // largest time ratio that meets the aim; 0 when none is set
  const char* aimText;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"spooling from stdin into the log directory",
       "`SpoolPrintData` (the run loop)",
       {"spool/backend"},
       "`cat > file`",
       {"spool/cat"},
       1 / 0.7,
       "0.7 of cat's throughput (ratio ≤ 1.43)"},
      {"marker scan, generic parser",
       "`GetPrintFile_Other`",
       {"scan/other"},
       "`grep -F -c`, same 7 markers",
       {"scan/grep-other"},
       1.0,
       "as fast as grep (≤ 1.00)"},
      {"marker scan, Quoradex-driver parser",
       "`GetPrintFile_Quoradex`",
       {"scan/quoradex"},
       "`grep -F -c`, same 4 markers",
       {"scan/grep-quoradex"},
       1.0,
       "as fast as grep (≤ 1.00)"},
      {"marker scan, HP parser",
       "`GetPrintFile_HP`",
       {"scan/hp"},
       "`grep -F -c`, same 4 markers",
       {"scan/grep-hp"},
       1.0,
       "as fast as grep (≤ 1.00)"},
      {"marker scan, KONICA MINOLTA parser",
       "`GetPrintFile_KM`",
       {"scan/km"},
       "`grep -F -c`, same 4 markers",
       {"scan/grep-km"},
       1.0,
       "as fast as grep (≤ 1.00)"},
      {"one pass, PostScript: copy loop, then the attributes",
       "8 KiB copy loop + `SelectParser` (markers and page language in one read)",
       {"onepass-ps/backend"},
       "8 KiB copy loop + `grep -F -c`, generic markers",
       {"onepass-ps/grep"},
       1.1,
       "within 1.1 of the floor (≤ 1.10)"},
      {"one pass, PCL XL: copy loop, then the attributes",
       "8 KiB copy loop + `SelectParser` (markers and page language in one read)",
       {"onepass-pclxl/backend"},
       "8 KiB copy loop + `grep -F -c`, generic markers",
       {"onepass-pclxl/grep"},
       1.1,
       "within 1.1 of the floor (≤ 1.10)"},
      {"PJL wrap of a PDF",
       "`AddContentToBeginning` + `AddContentToEnd`",
       {"wrap/backend"},
       "`cat header file trailer > out`",
       {"wrap/cat"},
       1.2,
       "within 1.2 of cat (≤ 1.20)"},
      {"upload",
       "`uploadFileToQuoradexV2`",
       {"upload/backend"},
       "`curl -F`, same three parts",
       {"upload/curl"},
       1.1,
       "within 1.1 of curl (≤ 1.10)"},
      {"whole job, PostScript (generic parser)",
       "`virtual-printer`, stdin to exit status 0",
       {"job-ps/backend"},
       "cat + grep (generic) + curl, summed",
       {"spool/cat", "scan/grep-other", "upload/curl"},
       1.0,
       "no slower than the sum (≤ 1.00)"},
      {"whole job, PDF (page count, PJL wrap)",
       "`virtual-printer`, stdin to exit status 0",
       {"job-pdf/backend"},
       "cat + cat wrap + curl, summed",
       {"spool/cat", "wrap/cat", "upload/curl"},
       1.0,
       "no slower than the sum (≤ 1.00)"},
      {"small job latency (10 KB PostScript)",
       "`virtual-printer` end to end",
       {"small/backend"},
       "`curl` login + `curl -F` upload",
       {"small/curl"},
       0,
       "none set"},
  };
  return rows;
}

// Sum of the medians; negative when one of them is missing or failed.
double MedianSum(const Measures& measures, const std::vector<const char*>& names) {
  double sum = 0;
  for (const char* name : names) {
    auto found = measures.find(name);
    if (found == measures.end() || !found->second.error.empty() || found->second.seconds.empty())
      return -1;
    sum += Median(found->second.seconds);
  }
  return sum;
}

double BytesOf(const Measures& measures, const char* name) {
  auto found = measures.find(name);
  return found == measures.end() ? 0 : found->second.bytes;
}

std::string Format(const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

// "12.3 ms (812 MB/s)"; MB are 10^6 bytes.
std::string TimeCell(double seconds, double bytes) {
  if (seconds < 0)
    return "n/a";
  std::string cell = Format(seconds < 0.1 ? "%.2f ms" : "%.0f ms", seconds * 1000);
  if (bytes > 0 && seconds > 0)
    cell += " (" + Format("%.0f MB/s", bytes / seconds / 1e6) + ")";
  return cell;
}

std::string ErrorsOf(const Measures& measures, const std::vector<const char*>& names) {
  std::string errors;
  for (const char* name : names) {
    auto found = measures.find(name);
    if (found == measures.end())
      errors += std::string(name) + " not run; ";
    else if (!found->second.error.empty())
      errors += std::string(name) + ": " + found->second.error + "; ";
  }
  return errors;
}

std::string TableRow(const Row& row, const Measures& measures) {
  double mine = MedianSum(measures, row.backend);
  double theirs = MedianSum(measures, row.baseline);
  double bytes = BytesOf(measures, row.backend.front());
  std::string ratio = mine > 0 && theirs > 0 ? Format("%.2f", mine / theirs) : "n/a";
  std::string verdict = "—";
  if (row.aim > 0 && mine > 0 && theirs > 0)
    verdict = mine / theirs <= row.aim ? "met" : "**short**";
  std::string errors = ErrorsOf(measures, row.backend) + ErrorsOf(measures, row.baseline);
  if (!errors.empty())
    verdict = "not measured: " + errors;
  return "| " + std::string(row.stage) + " | " + row.backendLabel + " | " + TimeCell(mine, bytes) +
         " | " + row.baselineLabel + " | " + TimeCell(theirs, bytes) + " | " + ratio + " | " +
         row.aimText + " | " + verdict + " |\n";
}

double PeakKb(const Measures& measures, const std::string& name) {
  auto found = measures.find(name);
  return found == measures.end() || !found->second.error.empty() ? -1 : found->second.maxRssKb;
}

std::string MemoryCell(double kb) {
  return kb < 0 ? "n/a" : Format("%.1f MB", kb / 1024);
}

std::string MemoryTable(const ReportFacts& facts, const Measures& measures) {
  std::string table = "| job |";
  std::string rule = "|---|";
  for (uint64_t size : facts.memorySizes) {
    table += " " + SizeName(size) + " |";
    rule += "---|";
  }
  table += " largest − smallest | aim: same within 1 MB, under 16 MB |\n" + rule + "---|---|\n";
  for (const char* kind : {"ps", "pdf"}) {
    double least = 1e18;
    double most = -1;
    bool all = true;
    table += std::string("| ") + (kind == std::string("ps") ? "PostScript" : "PDF") + " |";
    for (uint64_t size : facts.memorySizes) {
      double kb = PeakKb(measures, "memory/" + std::string(kind) + "-" + SizeName(size));
      all = all && kb >= 0;
      least = std::min(least, kb);
      most = std::max(most, kb);
      table += " " + MemoryCell(kb) + " |";
    }
    bool met = all && most - least <= 1024 && most < 16 * 1024;
    table += " " + (all ? Format("%.1f MB", (most - least) / 1024) : std::string("n/a")) + " | " +
             (all ? (met ? "met" : "**short**") : "not measured") + " |\n";
  }
  return table;
}

double MedianOf(const Measures& measures, const char* name) {
  return MedianSum(measures, {name});
}

std::string Ms(double seconds) {
  return Format(seconds < 0.1 ? "%.1f ms" : "%.0f ms", seconds * 1000);
}

// Per-block cost of spooling, and the shares of the fixed block size and of the status lines.
std::string SpoolNote(const ReportFacts& facts, const Measures& m) {
  double backend = MedianOf(m, "spool/backend");
  double loop = MedianOf(m, "spool/8k-loop");
  double cat = MedianOf(m, "spool/cat");
  if (backend <= 0 || loop <= 0 || cat <= 0)
    return "- Spooling: not measured.\n";
  double blocks = std::ceil(static_cast<double>(facts.size) / 8192);
  return "- Spooling: " + Format("%.0f", blocks) +
         " blocks of 8 KiB, each a read from the pipe, a write to the data file and one write "
         "of the block's two status lines into the scheduler's pipe: " +
         Format("%.1f µs", backend / blocks * 1e6) +
         " per block, where cat moves up to 64 KiB per read. The same copy with 8 KiB blocks "
         "and no status lines takes " +
         Ms(loop) + " against cat's " + Ms(cat) + ": the fixed block size accounts for " +
         Format("%.0f%%", std::max(0.0, loop - cat) / backend * 100) +
         " of the backend's time, the status lines for " +
         Format("%.0f%%", std::max(0.0, backend - loop) / backend * 100) +
         ". Both are part of the run loop's contract (an 8192-byte buffer, a line per read and per "
         "write); within it the two lines of a block leave in one write, and the input pipe is "
         "grown to 1 MiB so that the feeding process is not woken at every block.\n";
}

std::string OnePassNote(const Measures& m) {
  double ps = MedianOf(m, "onepass-ps/backend");
  double psGrep = MedianOf(m, "onepass-ps/grep");
  double xl = MedianOf(m, "onepass-pclxl/backend");
  double xlGrep = MedianOf(m, "onepass-pclxl/grep");
  if (ps <= 0 || psGrep <= 0 || xl <= 0 || xlGrep <= 0)
    return "- One pass: not measured.\n";
  return "- One pass (PostScript " + Ms(ps) + " against " + Ms(psGrep) + ", PCL XL " + Ms(xl) +
         " against " + Ms(xlGrep) +
         "): after the copy, parser selection reads the data file once; every 128 KiB block the "
         "marker scan reads is handed to the page-language reader too. PostScript ends that "
         "reader at its first byte; PCL XL's image data, nearly all of such a job, is stepped "
         "over by the lengths of its embedded blocks, so the reader costs little beside the "
         "scan's memchr over the same bytes.\n";
}

std::string ScanNote(const Measures& m) {
  double other = MedianOf(m, "scan/other");
  double grep = MedianOf(m, "scan/grep-other");
  if (other <= 0 || grep <= 0)
    return "- Marker scan: not measured.\n";
  return "- Marker scan (generic parser " + Ms(other) + ", grep " + Ms(grep) +
         "): the file is read in 128 KiB blocks; memchr jumps to the next '%' or '@', the first "
         "bytes of every marker, and a table of the markers' first two bytes turns away almost "
         "every candidate, so most bytes are touched by memchr alone. The time goes to the "
         "ASCII85 image lines, which hold a '%' every 85 bytes; the parsers that look for '%' "
         "only (Quoradex, KONICA MINOLTA) take half as long as those that look for '@' too.\n";
}

std::string WrapNote(const Measures& m) {
  double wrap = MedianOf(m, "wrap/backend");
  double cat = MedianOf(m, "wrap/cat");
  if (wrap <= 0 || cat <= 0)
    return "- PJL wrap: not measured.\n";
  return "- PJL wrap (" + Ms(wrap) + ", cat " + Ms(cat) +
         "): one copy of the PDF behind the header into the temporary file through a 128 KiB "
         "buffer, as cat copies; then the two files swap names and the old data is removed, and "
         "the trailer is appended in one write. Removing the old data frees its pages and disk "
         "blocks, a cost cat's new output file does not have; with jobs of a GiB, when the "
         "kernel is already writing dirty pages back, it also waits for that write-back.\n";
}

std::string UploadNote(const Measures& m) {
  double upload = MedianOf(m, "upload/backend");
  double curl = MedianOf(m, "upload/curl");
  if (upload <= 0 || curl <= 0)
    return "- Upload: not measured.\n";
  return "- Upload (" + Ms(upload) + ", curl " + Ms(curl) +
         "): libcurl streams the data file from the page cache through its read callback, as the "
         "curl tool does with the same library; the local server, which parses the multipart body "
         "and writes the file to disk, sets the pace of both. curl also pays its own process "
         "start.\n";
}

std::string JobNote(const Measures& m) {
  double ps = MedianOf(m, "job-ps/backend");
  double psStages = MedianSum(m, {"spool/backend", "scan/other", "upload/backend"});
  double pdf = MedianOf(m, "job-pdf/backend");
  double pdfStages = MedianSum(m, {"spool/backend", "wrap/backend", "upload/backend"});
  double small = MedianOf(m, "small/backend");
  double spoolLoss = MedianOf(m, "spool/backend") - MedianOf(m, "spool/cat");
  double scanGain = MedianOf(m, "scan/grep-other") - MedianOf(m, "scan/other");
  double uploadGain = MedianOf(m, "upload/curl") - MedianOf(m, "upload/backend");
  if (ps <= 0 || psStages <= 0 || pdf <= 0 || pdfStages <= 0 || small <= 0)
    return "- Whole jobs: not measured.\n";
  return "- Whole jobs: the PostScript job takes " + Ms(ps) + ", its stages measured alone " +
         Ms(psStages) + "; the PDF job " + Ms(pdf) + " against " + Ms(pdfStages) +
         ", and runs the page count besides (pdfinfo, grep and awk through the shell). The rest "
         "is fixed per job: the process start with its libraries, the settings read through "
         "plutil and the shell, the login, the job log; the 10 KB job (" +
         Ms(small) + ") is that fixed part alone. Against the baselines, spooling loses " +
         Ms(spoolLoss) + ", while the scan gains " + Ms(scanGain) + " and the upload " +
         Ms(uploadGain) + ".\n";
}

// The rows whose aim was not met.
std::string ShortList(const Measures& measures) {
  std::string list;
  for (const Row& row : Rows()) {
    double mine = MedianSum(measures, row.backend);
    double theirs = MedianSum(measures, row.baseline);
    if (row.aim > 0 && mine > 0 && theirs > 0 && mine / theirs > row.aim)
      list += std::string(list.empty() ? "" : "; ") + row.stage + " (" +
              Format("%.2f", mine / theirs) + ")";
  }
  return list.empty() ? "none" : list;
}

}  // namespace

double Median(std::vector<double> values) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool CollectingReporter::ReportContext(const Context& context) {
  if (!smoke_)
    return ConsoleReporter::ReportContext(context);
  std::ostream* console = &GetErrorStream();
  std::ostringstream said;
  SetErrorStream(&said);
  bool ok = ConsoleReporter::ReportContext(context);
  SetErrorStream(console);
  std::istringstream lines(said.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Library was built as DEBUG") == std::string::npos)
      *console << line << '\n';
  }
  return ok;
}

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration)
      continue;
    Measure& measure = measures_[run.run_name.function_name];
    if (run.error_occurred) {
      measure.error = run.error_message;
      continue;
    }
    if (run.iterations > 0)
      measure.seconds.push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
    auto bytes = run.counters.find("bytes");
    if (bytes != run.counters.end())
      measure.bytes = bytes->second.value;
    auto rss = run.counters.find("max_rss_kB");
    if (rss != run.counters.end())
      measure.maxRssKb = std::max(measure.maxRssKb, rss->second.value);
  }
  ConsoleReporter::ReportRuns(runs);
}

std::string MarkdownReport(const ReportFacts& facts, const Measures& measures) {
  std::ostringstream out;
  out << "# Benchmarks\n\n"
      << "Generated by `" << facts.command << "` on " << facts.date
      << "; run it again to refresh this file.\n\n"
      << "Machine: " << facts.machine << ". Load average (1, 5, 15 minutes) at the start "
      << facts.loadAtStart << ", at the end " << facts.loadAtEnd
      << "; the two cores are shared with whatever else runs, so single figures vary and only the "
         "interleaved medians compare.\n\n"
      << "Inputs, made by the benchmark program: a PostScript job of " << facts.size
      << " bytes (PJL preamble, driver comments and features, pages of 80-column ASCII85 image "
         "lines and raw binary lines of 4 to 64 KiB), a PCL XL job of about the same size (grey "
         "pages of image data in embedded blocks of 64 KiB), a PDF job of "
      << facts.pdfSize << " bytes (one uncompressed image per page) and a " << facts.smallSize
      << "-byte PostScript job. Each figure is "
      << (facts.repetitions > 1 ? "the median of " + std::to_string(facts.repetitions) +
                                      " repetitions; the repetitions of backend and baselines ran "
                                      "shuffled together in one invocation (Google Benchmark's "
                                      "random interleaving)"
                                : std::string("a single run (smoke run: the figures prove "
                                              "nothing but that every stage still runs)"))
      << ", inputs in the page cache. The "
         "backend's status lines go into a pipe that is read as the scheduler reads it; print "
         "data reaches spooling and whole jobs through a pipe fed by `cat`. Stage figures call "
         "the library's functions in the benchmark process; whole-job and small-job figures "
         "time the backend process (its sandboxed build) against the local print server on "
         "127.0.0.1. Ratio = backend time ÷ baseline time (below 1: the backend is faster).\n\n"
      << "| stage | backend | time | baseline | time | ratio | aim | verdict |\n"
      << "|---|---|---|---|---|---|---|---|\n";
  for (const Row& row : Rows())
    out << TableRow(row, measures);
  out << "\nReference: the spooling copy with 8 KiB blocks and nothing else (no status lines): "
      << TimeCell(MedianOf(measures, "spool/8k-loop"), BytesOf(measures, "spool/8k-loop"))
      << ".\n\n## Peak resident memory of the backend\n\n"
      << "Whole jobs through the backend process, peak resident set as wait4 reports it (the same "
         "figure as `/usr/bin/time -v`; it covers the backend's children, plutil and pdfinfo, as "
         "well).\n\n"
      << MemoryTable(facts, measures)
      << "\nThe backend listing its device, without a job, peaks at "
      << MemoryCell(PeakKb(measures, "memory/no-job"))
      << ": the program and its shared libraries (libcups, libcurl and what they load), mapped "
         "from files; a job adds its buffers, which do not grow with its size.\n"
      << "\n## Where the time goes\n\n"
      << SpoolNote(facts, measures) << OnePassNote(measures) << ScanNote(measures)
      << WrapNote(measures) << UploadNote(measures) << JobNote(measures)
      << "\nShort of their aim in this run: " << ShortList(measures) << ".\n";
  return out.str();
}

}  // namespace vp
