#include "bench/bench_inputs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "attributes/page_language.h"
#include "attributes/print_file_parsers.h"
#include "dispatch/page_count.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace fs = std::filesystem;

namespace {

class BenchInputs : public ScratchDirTest {
 protected:
  std::string Path(const std::string& name) const { return dir_ + name; }
};

size_t Count(const std::string& text, const std::string& word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
    ++count;
  return count;
}

size_t LongestLine(const std::string& text) {
  size_t longest = 0;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  return longest;
}

TEST(BenchSizes, FlagTextAndBytes) {
  struct Case {
    const char* text;
    uint64_t bytes;
    bool written;  // SizeName gives the text back
  };
  const Case cases[] = {
      {"100K", 100 << 10, true},
      {"10M", 10 << 20, true},
      {"1G", uint64_t{1} << 30, true},
      {"1g", uint64_t{1} << 30, false},
      {"512", 512, true},
      {"", 0, false},
      {"M", 0, false},
      {"10MB", 0, false},
      {"10X", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseSize(c.text), c.bytes) << c.text;
    if (c.written) {
      EXPECT_EQ(SizeName(c.bytes), c.text);
    }
  }
}

// The PostScript job must carry every family's markers with known values, so the benchmark times
// real hits, and long lines, so it times the scan over them.
TEST_F(BenchInputs, PostScriptJobParsesAsADriversOutput) {
  const std::string path = Path("job.ps");
  ASSERT_TRUE(MakePostScriptJob(path, 3 << 20));
  const std::string bytes = ReadFile(path);
  EXPECT_NEAR(static_cast<double>(bytes.size()), 3 << 20, (3 << 20) / 100);
  EXPECT_GT(LongestLine(bytes), size_t{4096});
  const size_t pages = Count(bytes, "\n%%Page: ");
  EXPECT_EQ(pages, 3u);

  std::ostringstream log;
  JobInfo other = GetPrintFile_Other(log, path);
  EXPECT_EQ(other.pages, std::to_string(pages));
  EXPECT_EQ(other.copies, "2");
  EXPECT_EQ(other.color, "Color");
  EXPECT_EQ(other.duplex, "TwoSided");
  EXPECT_EQ(GetPrintFile_HP(path).color, "Color");
  EXPECT_EQ(GetPrintFile_KM(path).duplex, "TwoSided");
  EXPECT_EQ(GetPrintFile_Quoradex(path).duplex, "TwoSided");
}

// The PCL XL job is read as the printer would: a page per MiB of image data, grey, one copy.
TEST_F(BenchInputs, PclXlJobReadsAsThePrinterWould) {
  const std::string path = Path("job.pxl");
  ASSERT_TRUE(MakePclXlJob(path, 3 << 20));
  const std::string bytes = ReadFile(path);
  EXPECT_NEAR(static_cast<double>(bytes.size()), 3 << 20, (3 << 20) / 20);
  PageLanguageReader reader;
  reader.Feed(bytes.data(), bytes.size());
  const PageLanguageFindings found = reader.Finish();
  EXPECT_EQ(found.language, PageLanguage::kPclXl);
  EXPECT_EQ(found.found.pages, "3");
  EXPECT_EQ(found.found.copies, "1");
  EXPECT_TRUE(found.greyOnly);
}

TEST_F(BenchInputs, PdfJobIsReadByThePageCountProgram) {
  struct Case {
    uint64_t size;
    const char* pages;
  };
  for (const Case& c : {Case{100 << 10, "1"}, Case{9 << 20, "2"}}) {
    const std::string path = Path("job.pdf");
    ASSERT_TRUE(MakePdfJob(path, c.size));
    EXPECT_NEAR(static_cast<double>(fs::file_size(path)), c.size, c.size / 50.0);
    std::ostringstream log;
    JobInfo job;
    CountPdfPages(log, job, path);
    EXPECT_EQ(job.pages, c.pages) << c.size;
    // pdfinfo mends a broken cross-reference table silently; qpdf reports it.
    EXPECT_EQ(std::system(("qpdf --check '" + path + "' > /dev/null 2>&1").c_str()), 0) << c.size;
  }
}

TEST_F(BenchInputs, SameSizeGivesSameBytes) {
  ASSERT_TRUE(MakePostScriptJob(Path("a.ps"), 200 << 10));
  ASSERT_TRUE(MakePostScriptJob(Path("b.ps"), 200 << 10));
  EXPECT_EQ(ReadFile(Path("a.ps")), ReadFile(Path("b.ps")));
  EXPECT_FALSE(MakePostScriptJob(Path("missing/job.ps"), 1 << 10));
}

}  // namespace

}  // namespace vp
