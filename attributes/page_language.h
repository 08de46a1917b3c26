#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "attributes/job_info.h"

namespace vp {

// What the printer will do with a job that is not PostScript: pages, copies, sides and colour
// read from the page-description language itself. Drivers for PCL XL, PCL 5 and raster printers
// leave no marker lines; the language's own commands say what the device prints.
//
// The reader is a streaming state machine fed the data in pieces of any size, so it can share the
// one pass the marker scan makes over the data file. Its memory is constant and its time linear
// whatever it is fed: lengths read from the data are skipped by counting, never allocated.

enum class PageLanguage { kUnknown, kPclXl, kPcl5, kPwgRaster, kCupsRaster, kUrf };

// The name used in the job log: "PCL XL", "PCL 5", "PWG raster", "CUPS raster", "URF".
const char* PageLanguageName(PageLanguage language);

struct PageLanguageFindings {
  PageLanguage language = PageLanguage::kUnknown;
  // pages, copies, duplex, binding and color as the printer will print them; all empty when the
  // language is unknown (PostScript, PDF or anything else).
  JobInfo found;
  // PCL XL and PCL 5: every colour space the job set was grey, so the device prints grey whatever
  // the PJL header's render mode asks.
  bool greyOnly = false;
};

// A page as the device ejects it.
struct PageTally {
  uint64_t pages = 0;
  uint64_t impressions = 0;  // pages times each page's copies
  uint64_t firstCopies = 0;
  bool mixedCopies = false;  // pages asked for different numbers of copies
  bool twoSided = false;
  std::string binding;  // of the last two-sided page

  void Eject(uint64_t copies, bool duplex, const char* pageBinding);
};

// The PJL header's job defaults: what the language falls back to where it says nothing.
struct PjlDefaults {
  uint64_t copies = 1;    // COPIES: the language's default copies of each page
  uint64_t quantity = 1;  // QTY: the whole job repeated
  bool duplex = false;
  const char* binding = "LONGEDGE";
};

class PageLanguageReader {
 public:
  void Feed(const char* data, size_t size);
  PageLanguageFindings Finish();

 private:
  enum class Mode {
    kPjl,    // PJL commands, the universal exit, or the start of a language
    kProbe,  // the first bytes of a language, until they tell which one
    kPclXl,
    kPcl5,
    kRaster,
    kDone,  // nothing more to learn from the data
  };
  enum class Step { kTag, kXlHeader, kCollect, kSkip, kText, kEscape, kGroup, kValue, kHpgl };
  enum class Collecting { kValue, kAttributeId, kEmbeddedLength, kArrayLengthTag, kArrayLength };

  size_t FeedPjl(const unsigned char* p, size_t n);
  void Probe(const unsigned char* p, size_t n);
  void StartLanguage(PageLanguage language);
  size_t FeedPclXl(const unsigned char* p, size_t n);
  size_t FeedPcl5(const unsigned char* p, size_t n);
  size_t FeedRaster(const unsigned char* p, size_t n);
  void PjlLine();
  void XlTag(unsigned char tag);
  void XlCollected();
  void XlOperator(unsigned char op);
  void Pcl5Command(unsigned char parameter);
  void Pcl5Eject();
  void Pcl5Reset();
  void RasterHeader();
  void RasterPageDone();

  Mode mode_ = Mode::kPjl;
  Step step_ = Step::kTag;
  PageLanguage language_ = PageLanguage::kUnknown;
  PjlDefaults pjl_;
  PageTally tally_;
  bool colourUsed_ = false;

  // PJL lines and the language probe: short, and cut where they outgrow the buffer.
  std::string line_;
  bool lineCut_ = false;
  std::string probe_;

  // PCL XL: the binding's byte order, the value being collected, the attributes an operator takes.
  bool littleEndian_ = true;
  Collecting collecting_ = Collecting::kValue;
  unsigned char valueType_ = 0;  // the low bits of the data type tag
  unsigned char collected_[4] = {};
  size_t collectedSize_ = 0;
  size_t wanted_ = 0;
  uint64_t skip_ = 0;
  size_t elementSize_ = 0;
  bool haveValue_ = false;
  uint64_t value_ = 0;
  struct XlAttributes {
    int colorSpace = -1, pageCopies = -1, simplex = -1, duplexMode = -1;
  } attributes_;
  bool pageDuplex_ = false;
  const char* pageBinding_ = "LONGEDGE";

  // PCL 5: the escape being read and the page's state.
  unsigned char family_ = 0, group_ = 0;
  bool negative_ = false, inFraction_ = false, haveDigits_ = false;
  uint64_t number_ = 0;
  bool marked_ = false;
  char hpglLast_ = 0;
  uint32_t textTail_ = 0;  // the last four bytes of text
  uint64_t copies_ = 1;
  bool duplex_ = false;
  const char* binding_ = "LONGEDGE";

  // Raster: the page header being read and the page's bitmap.
  std::string header_;
  bool pwgLike_ = false;  // PWG raster and URF: compressed lines that must be walked
  uint64_t linesLeft_ = 0, lineBytes_ = 0, pixelBytes_ = 0, lineLeft_ = 0;
  unsigned char rasterStep_ = 0;
  uint64_t urfPagesLeft_ = 0;
};

}  // namespace vp
