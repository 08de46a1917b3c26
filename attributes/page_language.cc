#include "attributes/page_language.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace vp {

namespace {

constexpr std::string_view kUniversalExit = "\x1b%-12345X";
// PJL commands are short; a longer line is read no further, so a hostile one costs no memory.
constexpr size_t kLongestPjlLine = 256;
// Enough bytes to tell every language apart by its first ones.
constexpr size_t kProbeSize = 16;
// Counts beyond this mean nothing to a printer; holding them there keeps every sum far from
// overflow and every field a valid count.
constexpr uint64_t kMostCount = 2147483647;
constexpr uint32_t kPostScriptStart = uint32_t{'%'} << 24 | uint32_t{'!'} << 16 | 'P' << 8 | 'S';

uint64_t Saturate(uint64_t n) {
  return std::min(n, kMostCount);
}

uint64_t Times(uint64_t a, uint64_t b) {
  return b != 0 && a > kMostCount / b ? kMostCount : Saturate(a * b);
}

// Steps over at most `left` of the `available` bytes, by counting; returns how many.
size_t SkipCounted(uint64_t& left, size_t available) {
  const uint64_t take = std::min<uint64_t>(left, available);
  left -= take;
  return static_cast<size_t>(take);
}

bool IsPjlSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

// "@PJL SET COPIES = 3" -> command "SET", variable "COPIES", value "3", trimmed; "@PJL ENTER
// LANGUAGE=PCLXL" likewise. The line comes in upper case already: a job's header may hold
// millions of lines, so nothing here copies it.
bool SplitPjlCommand(std::string_view upper, std::string_view command, std::string& variable,
                     std::string& value) {
  auto trim = [](std::string_view text) {
    while (!text.empty() && IsPjlSpace(text.front()))
      text.remove_prefix(1);
    while (!text.empty() && IsPjlSpace(text.back()))
      text.remove_suffix(1);
    return text;
  };
  std::string_view rest = trim(upper.substr(4));
  if (!rest.starts_with(command) || rest.size() <= command.size() ||
      !IsPjlSpace(rest[command.size()]))
    return false;
  rest = trim(rest.substr(command.size()));
  const size_t equals = rest.find('=');
  if (equals == std::string_view::npos)
    return false;
  variable = trim(rest.substr(0, equals));
  value = trim(rest.substr(equals + 1));
  return true;
}

bool ParseCount(const std::string& text, uint64_t& count) {
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  uint64_t n = 0;
  for (char c : text)
    n = Saturate(n * 10 + static_cast<uint64_t>(c - '0'));
  count = n;
  return true;
}

uint32_t Word(const std::string& header, size_t at, bool bigEndian) {
  const auto* b = reinterpret_cast<const unsigned char*>(header.data() + at);
  return bigEndian ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
                   : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

// PCL XL tags and the attributes that say what the device prints.
constexpr unsigned char kXlBeginPage = 0x43;
constexpr unsigned char kXlEndPage = 0x44;
constexpr unsigned char kXlSetColorSpace = 0x6a;
constexpr unsigned char kXlAttributeByte = 0xf8;
constexpr unsigned char kXlAttributeWord = 0xf9;
constexpr unsigned char kXlEmbeddedLong = 0xfa;
constexpr unsigned char kXlEmbeddedByte = 0xfb;
constexpr unsigned kXlColorSpace = 0x03;
constexpr unsigned kXlPageCopies = 0x31;
constexpr unsigned kXlSimplexPageMode = 0x34;
constexpr unsigned kXlDuplexPageMode = 0x35;
constexpr int kXlGray = 1;
constexpr int kXlVerticalBinding = 1;  // bound on the long edge of a portrait sheet

// Data type tags: the low bits name the element (ubyte, uint16, uint32, sint16, sint32, real32),
// the high ones a single value (0xc0), an array (0xc8), an xy pair (0xd0) or a box (0xe0).
constexpr size_t kXlElementSize[] = {1, 2, 4, 2, 4, 4};

// Raster page headers: the version-2 header that CUPS and PWG raster share.
constexpr size_t kRasterHeaderSize = 1796;
constexpr size_t kRasterV1HeaderSize = 420;
constexpr size_t kRasterDuplex = 272, kRasterNumCopies = 340, kRasterTumble = 368;
constexpr size_t kRasterHeight = 376, kRasterBitsPerPixel = 388, kRasterBytesPerLine = 392;
constexpr size_t kRasterColorSpace = 400;
constexpr size_t kUrfHeaderSize = 32;

// cupsColorSpace values of one grey channel: white, black, sGray, and the first device space.
bool RasterGrey(uint32_t space) {
  return space == 0 || space == 3 || space == 18 || space == 48;
}

// HP-GL/2 instructions that put ink on the page; the rest set up pens, scaling and position.
bool DrawsInHpgl(char first, char second) {
  static constexpr std::string_view kDrawing[] = {"PD", "PE", "LB", "RA", "RR", "EA", "ER",
                                                  "EW", "WG", "FP", "EP", "CI", "AA", "AR",
                                                  "BZ", "BR", "PM", "SM", "RF"};
  const char pair[] = {first, second};
  return std::find(std::begin(kDrawing), std::end(kDrawing), std::string_view(pair, 2)) !=
         std::end(kDrawing);
}

}  // namespace

const char* PageLanguageName(PageLanguage language) {
  switch (language) {
    case PageLanguage::kPclXl:
      return "PCL XL";
    case PageLanguage::kPcl5:
      return "PCL 5";
    case PageLanguage::kPwgRaster:
      return "PWG raster";
    case PageLanguage::kCupsRaster:
      return "CUPS raster";
    case PageLanguage::kUrf:
      return "URF";
    case PageLanguage::kUnknown:
      break;
  }
  return "unknown";
}

void PageTally::Eject(uint64_t copies, bool duplex, const char* pageBinding) {
  copies = std::max<uint64_t>(copies, 1);
  if (pages == 0)
    firstCopies = copies;
  mixedCopies = mixedCopies || copies != firstCopies;
  pages = Saturate(pages + 1);
  impressions = Saturate(impressions + copies);
  if (duplex) {
    twoSided = true;
    binding = pageBinding;
  }
}

void PageLanguageReader::Feed(const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  while (size > 0 && mode_ != Mode::kDone) {
    size_t used = 0;
    switch (mode_) {
      case Mode::kPjl:
        used = FeedPjl(p, size);
        break;
      case Mode::kProbe:
        Probe(p, 1);
        used = 1;
        break;
      case Mode::kPclXl:
        used = FeedPclXl(p, size);
        break;
      case Mode::kPcl5:
        used = FeedPcl5(p, size);
        break;
      case Mode::kRaster:
        used = FeedRaster(p, size);
        break;
      case Mode::kDone:
        break;
    }
    p += used;
    size -= used;
  }
}

// PJL lines between universal exits; the first byte of anything else starts a language.
size_t PageLanguageReader::FeedPjl(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i < n; ++i) {
    const unsigned char c = p[i];
    if (!line_.empty() || lineCut_) {
      if (c == '\n') {
        PjlLine();
        line_.clear();
        lineCut_ = false;
        if (mode_ != Mode::kPjl)
          return i + 1;
      } else if (line_.size() < kLongestPjlLine) {
        line_ += static_cast<char>(c);
      } else {
        lineCut_ = true;
      }
      continue;
    }
    if (c == '@') {
      line_ = "@";
      continue;
    }
    if (IsPjlSpace(c))
      continue;
    mode_ = Mode::kProbe;
    probe_.clear();
    return i;
  }
  return i;
}

void PageLanguageReader::PjlLine() {
  if (line_.size() < 4 || line_.compare(0, 4, "@PJL") != 0)
    return;
  std::transform(line_.begin(), line_.end(), line_.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::string variable, value;
  // PostScript and PDF say what they print in their own comments, which the parsers read.
  if (SplitPjlCommand(line_, "ENTER", variable, value) && variable == "LANGUAGE" &&
      (value == "POSTSCRIPT" || value == "PDF")) {
    mode_ = Mode::kDone;
    return;
  }
  if (SplitPjlCommand(line_, "SET", variable, value)) {
    uint64_t count = 0;
    if (variable == "COPIES" && ParseCount(value, count))
      pjl_.copies = std::max<uint64_t>(count, 1);
    else if (variable == "QTY" && ParseCount(value, count))
      pjl_.quantity = std::max<uint64_t>(count, 1);
    else if (variable == "DUPLEX")
      pjl_.duplex = value == "ON";
    else if (variable == "BINDING")
      pjl_.binding = value == "SHORTEDGE" ? "SHORTEDGE" : "LONGEDGE";
  }
}

// The first bytes of the data after its PJL header tell the language.
void PageLanguageReader::Probe(const unsigned char* p, size_t) {
  probe_ += static_cast<char>(*p);
  const std::string_view seen = probe_;
  auto startsOrIsStartOf = [&](std::string_view word) {
    return seen.size() < word.size() ? word.starts_with(seen) : seen.starts_with(word);
  };
  if (startsOrIsStartOf(kUniversalExit)) {
    if (seen.size() == kUniversalExit.size())
      mode_ = Mode::kPjl;
    return;
  }
  if (seen[0] == '\x1b') {
    StartLanguage(PageLanguage::kPcl5);
    return;
  }
  static constexpr std::string_view kXlHeaders[] = {") HP-PCL XL", "( HP-PCL XL"};
  static constexpr std::string_view kRasterSyncs[] = {"RaSt", "tSaR", "RaS2",   "2SaR",
                                                      "RaS3", "3SaR", "UNIRAST"};
  bool maybe = false;
  for (std::string_view header : kXlHeaders) {
    if (startsOrIsStartOf(header)) {
      if (seen.size() == header.size()) {
        littleEndian_ = seen[0] == ')';
        StartLanguage(PageLanguage::kPclXl);
        return;
      }
      maybe = true;
    }
  }
  for (std::string_view sync : kRasterSyncs) {
    if (startsOrIsStartOf(sync)) {
      // URF's sync is followed by a zero and a 32-bit page count; PWG raster names itself in the
      // first header's first field, after the sync.
      const size_t needed = sync == "UNIRAST" ? 12 : sync == "RaS2" ? 13 : sync.size();
      if (seen.size() >= needed) {
        if (sync == "UNIRAST") {
          urfPagesLeft_ = Word(probe_, 8, true);
          language_ = PageLanguage::kUrf;
        } else {
          language_ = sync == "RaS2" && seen.substr(4, 9) == "PwgRaster"
                          ? PageLanguage::kPwgRaster
                          : PageLanguage::kCupsRaster;
          header_.assign(probe_.data() + 4, probe_.size() - 4);
        }
        StartLanguage(language_);
        return;
      }
      maybe = true;
    }
  }
  if (!maybe || probe_.size() >= kProbeSize)
    mode_ = Mode::kDone;
}

void PageLanguageReader::StartLanguage(PageLanguage language) {
  language_ = language;
  switch (language) {
    case PageLanguage::kPclXl:
      mode_ = Mode::kPclXl;
      step_ = Step::kXlHeader;
      return;
    case PageLanguage::kPcl5: {
      mode_ = Mode::kPcl5;
      step_ = Step::kText;
      Pcl5Reset();
      const std::string bytes = probe_;
      Feed(bytes.data(), bytes.size());
      return;
    }
    case PageLanguage::kUrf:
      header_.clear();
      [[fallthrough]];
    case PageLanguage::kPwgRaster:
    case PageLanguage::kCupsRaster:
      mode_ = Mode::kRaster;
      pwgLike_ = language != PageLanguage::kCupsRaster || probe_.starts_with("RaS2") ||
                 probe_.starts_with("2SaR");
      rasterStep_ = 0;
      return;
    case PageLanguage::kUnknown:
      mode_ = Mode::kDone;
      return;
  }
}

// PCL XL: a binary stream of data values, attribute ids and operators. Only a few operators and
// attributes matter; everything else is stepped over by its size.
size_t PageLanguageReader::FeedPclXl(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    switch (step_) {
      case Step::kXlHeader: {
        const void* feed = std::memchr(p + i, '\n', n - i);
        if (!feed)
          return n;
        i = static_cast<size_t>(static_cast<const unsigned char*>(feed) - p) + 1;
        step_ = Step::kTag;
        break;
      }
      case Step::kSkip: {
        i += SkipCounted(skip_, n - i);
        if (skip_ == 0)
          step_ = Step::kTag;
        break;
      }
      case Step::kCollect:
        collected_[collectedSize_++] = p[i++];
        if (collectedSize_ == wanted_)
          XlCollected();
        break;
      default:
        if (p[i] == 0x1b) {  // the universal exit that ends the language
          mode_ = Mode::kPjl;
          return i;
        }
        XlTag(p[i++]);
        break;
    }
  }
  return i;
}

void PageLanguageReader::XlTag(unsigned char tag) {
  auto collect = [&](Collecting what, size_t size) {
    collecting_ = what;
    wanted_ = size;
    collectedSize_ = 0;
    step_ = Step::kCollect;
  };
  const unsigned element = tag & 0x07;
  if (tag >= 0xc0 && tag <= 0xc5) {
    valueType_ = static_cast<unsigned char>(element);
    collect(Collecting::kValue, kXlElementSize[element]);
  } else if (tag >= 0xc8 && tag <= 0xcd) {
    elementSize_ = kXlElementSize[element];
    haveValue_ = false;
    collect(Collecting::kArrayLengthTag, 1);
  } else if ((tag >= 0xd0 && tag <= 0xd5) || (tag >= 0xe0 && tag <= 0xe5)) {
    haveValue_ = false;
    skip_ = kXlElementSize[element] * (tag >= 0xe0 ? 4 : 2);
    step_ = Step::kSkip;
  } else if (tag == kXlAttributeByte || tag == kXlAttributeWord) {
    collect(Collecting::kAttributeId, tag == kXlAttributeByte ? 1 : 2);
  } else if (tag == kXlEmbeddedLong || tag == kXlEmbeddedByte) {
    collect(Collecting::kEmbeddedLength, tag == kXlEmbeddedLong ? 4 : 1);
  } else if (tag >= 0x41 && tag <= 0xbf) {
    XlOperator(tag);
  }
  // White space and reserved bytes carry nothing.
}

void PageLanguageReader::XlCollected() {
  uint64_t n = 0;
  for (size_t k = 0; k < collectedSize_; ++k) {
    const size_t at = littleEndian_ ? collectedSize_ - 1 - k : k;
    n = n << 8 | collected_[at];
  }
  step_ = Step::kTag;
  switch (collecting_) {
    case Collecting::kValue: {
      // Signed values below zero and fractions mean no count and no setting.
      if ((valueType_ == 3 && (n & 0x8000)) || (valueType_ == 4 && (n & 0x80000000u))) {
        n = 0;
      } else if (valueType_ == 5) {
        float real = 0;
        const uint32_t bits = static_cast<uint32_t>(n);
        std::memcpy(&real, &bits, sizeof real);
        n = real >= 0 && real < static_cast<float>(kMostCount) ? static_cast<uint64_t>(real) : 0;
      }
      haveValue_ = true;
      value_ = n;
      return;
    }
    case Collecting::kAttributeId: {
      if (haveValue_) {
        const int v = static_cast<int>(std::min<uint64_t>(value_, kMostCount));
        if (n == kXlColorSpace)
          attributes_.colorSpace = v;
        else if (n == kXlPageCopies)
          attributes_.pageCopies = v;
        else if (n == kXlSimplexPageMode)
          attributes_.simplex = v;
        else if (n == kXlDuplexPageMode)
          attributes_.duplexMode = v;
      }
      haveValue_ = false;
      return;
    }
    case Collecting::kEmbeddedLength:
      skip_ = n;
      step_ = n > 0 ? Step::kSkip : Step::kTag;
      return;
    case Collecting::kArrayLengthTag:
      if (n == 0xc0 || n == 0xc1 || n == 0xc2) {
        collecting_ = Collecting::kArrayLength;
        wanted_ = kXlElementSize[n & 0x07];
        collectedSize_ = 0;
        step_ = Step::kCollect;
      }
      return;
    case Collecting::kArrayLength:
      skip_ = n * elementSize_;
      step_ = skip_ > 0 ? Step::kSkip : Step::kTag;
      return;
  }
}

void PageLanguageReader::XlOperator(unsigned char op) {
  if (op == kXlBeginPage) {
    // A page without a plex mode of its own takes the PJL header's.
    if (attributes_.duplexMode >= 0) {
      pageDuplex_ = true;
      pageBinding_ = attributes_.duplexMode == kXlVerticalBinding ? "LONGEDGE" : "SHORTEDGE";
    } else {
      pageDuplex_ = attributes_.simplex < 0 && pjl_.duplex;
      pageBinding_ = pjl_.binding;
    }
  } else if (op == kXlEndPage) {
    // The page's own copies replace the PJL header's COPIES, which is only the default.
    const uint64_t copies =
        attributes_.pageCopies >= 0 ? static_cast<uint64_t>(attributes_.pageCopies) : pjl_.copies;
    tally_.Eject(copies, pageDuplex_, pageBinding_);
  } else if (op == kXlSetColorSpace && attributes_.colorSpace >= 0 &&
             attributes_.colorSpace != kXlGray) {
    colourUsed_ = true;
  }
  attributes_ = XlAttributes();
  haveValue_ = false;
}

// PCL 5: text and escape sequences. A parameterised escape is ESC, a family byte ('&', '*', '(',
// ...), an optional group letter, then values each closed by a parameter letter, lower case while
// the combined sequence goes on and upper case at its end.
size_t PageLanguageReader::FeedPcl5(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    switch (step_) {
      case Step::kSkip: {
        i += SkipCounted(skip_, n - i);
        if (skip_ == 0)
          step_ = Step::kText;
        continue;
      }
      case Step::kHpgl: {
        // HP-GL/2 draws on the page until an escape returns to PCL.
        const void* escape = std::memchr(p + i, 0x1b, n - i);
        const size_t end =
            escape ? static_cast<size_t>(static_cast<const unsigned char*>(escape) - p) : n;
        for (size_t k = i; k < end && !marked_; ++k) {
          const char c2 = static_cast<char>(std::toupper(p[k]));
          marked_ = DrawsInHpgl(hpglLast_, c2);
          hpglLast_ = c2;
        }
        i = end;
        if (escape) {
          step_ = Step::kEscape;
          ++i;
        }
        continue;
      }
      case Step::kText:
        ++i;
        if (c == 0x1b) {
          step_ = Step::kEscape;
        } else if (c == '\f') {
          Pcl5Eject();
        } else if (c > ' ' && c != 0x7f) {
          marked_ = true;
          // A PCL reset before PostScript, as some drivers send: the data is PostScript.
          textTail_ = textTail_ << 8 | c;
          if (textTail_ == kPostScriptStart && tally_.pages == 0) {
            language_ = PageLanguage::kUnknown;
            mode_ = Mode::kDone;
            return i;
          }
        }
        continue;
      case Step::kEscape:
        ++i;
        if (c >= 0x21 && c <= 0x2f) {
          family_ = c;
          group_ = 0;
          step_ = Step::kGroup;
        } else if (c == 'E') {
          Pcl5Eject();
          Pcl5Reset();
          step_ = Step::kText;
        } else {
          step_ = Step::kText;
        }
        continue;
      case Step::kGroup:
        if (c >= 0x60 && c <= 0x7e) {
          group_ = c;
          ++i;
        }
        step_ = Step::kValue;
        number_ = 0;
        negative_ = inFraction_ = haveDigits_ = false;
        continue;
      default:  // kValue
        if (c >= '0' && c <= '9') {
          if (!inFraction_)
            number_ = Saturate(number_ * 10 + (c - '0'));
          haveDigits_ = true;
          ++i;
        } else if ((c == '-' || c == '+') && !haveDigits_) {
          negative_ = c == '-';
          ++i;
        } else if (c == '.') {
          inFraction_ = true;
          ++i;
        } else if (c >= 0x40 && c <= 0x7e) {
          ++i;
          Pcl5Command(c);
          if (mode_ != Mode::kPcl5)
            return i;
        } else {
          step_ = Step::kText;  // not an escape after all: the byte is read as text
        }
        continue;
    }
  }
  return i;
}

void PageLanguageReader::Pcl5Command(unsigned char parameter) {
  const bool last = parameter >= 0x40 && parameter <= 0x5e;
  const char letter = static_cast<char>(std::toupper(parameter));
  const uint64_t value = negative_ ? 0 : number_;
  const bool amp = family_ == '&', star = family_ == '*';
  if (family_ == '%' && group_ == 0 && letter == 'X' && negative_ && number_ == 12345) {
    Pcl5Eject();  // the universal exit ends the job and prints what the page holds
    mode_ = Mode::kPjl;
    return;
  }
  if (family_ == '%' && group_ == 0 && letter == 'B') {
    step_ = Step::kHpgl;
    return;
  }
  uint64_t data = 0;
  if (amp && group_ == 'l' && letter == 'X' && value > 0) {
    copies_ = value;
  } else if (amp && group_ == 'l' && letter == 'S') {
    duplex_ = value == 1 || value == 2;
    if (duplex_)
      binding_ = value == 2 ? "SHORTEDGE" : "LONGEDGE";
  } else if ((amp && group_ == 'l' && letter == 'H') || (amp && group_ == 'a' && letter == 'G')) {
    // A page eject, a paper source, or a move to the other side of the sheet prints the page.
    Pcl5Eject();
  } else if (star && group_ == 'r' && letter == 'U') {
    // Planes of simple colour: 1 is black only; 3 (RGB), -3 (CMY) and -4 (KCMY) are colour.
    colourUsed_ = colourUsed_ || (negative_ ? number_ == 3 || number_ == 4 : number_ == 3);
  } else if (star && group_ == 'v' && letter == 'W') {
    colourUsed_ = true;  // configuring image data chooses a colour space and palette
    data = value;
  } else if (star && group_ == 'c' && letter == 'P') {
    marked_ = true;  // a filled rectangle
  } else if (amp && group_ == 'p' && letter == 'X') {
    data = value;  // transparent print data: printed as it stands
    marked_ = marked_ || value > 0;
  } else if (letter == 'W' || (star && group_ == 'b' && letter == 'V')) {
    data = value;  // raster rows and planes, fonts, characters, patterns: their bytes follow
    marked_ = marked_ || (star && group_ == 'b' && value > 0);
  }
  if (data > 0) {
    skip_ = data;
    step_ = Step::kSkip;
    // A combined escape goes on after its data; read it as text, which ends it, as printers do.
    return;
  }
  step_ = last ? Step::kText : Step::kValue;
  number_ = 0;
  negative_ = inFraction_ = haveDigits_ = false;
}

// A page counts when something is on it: a form feed, a page eject or a reset after an empty page
// (a driver's trailing form feed, the reset that closes the job) prints no sheet.
void PageLanguageReader::Pcl5Eject() {
  if (!marked_)
    return;
  tally_.Eject(copies_, duplex_, binding_);
  marked_ = false;
}

// A reset restores the job's defaults, which the PJL header set.
void PageLanguageReader::Pcl5Reset() {
  copies_ = pjl_.copies;
  duplex_ = pjl_.duplex;
  binding_ = pjl_.binding;
}

// Raster: a page header, then the page's bitmap; CUPS raster v1 and v3 hold it uncompressed and
// are skipped by its size, PWG raster, CUPS raster v2 and URF compress each line, and are walked
// packet by packet.
size_t PageLanguageReader::FeedRaster(const unsigned char* p, size_t n) {
  const bool urf = language_ == PageLanguage::kUrf;
  const size_t headerSize = urf ? kUrfHeaderSize
                            : (probe_.starts_with("RaSt") || probe_.starts_with("tSaR"))
                                ? kRasterV1HeaderSize
                                : kRasterHeaderSize;
  size_t i = 0;
  while (i < n) {
    switch (rasterStep_) {
      case 0: {  // the page header
        const size_t take = std::min(headerSize - header_.size(), n - i);
        header_.append(reinterpret_cast<const char*>(p + i), take);
        i += take;
        if (header_.size() == headerSize)
          RasterHeader();
        break;
      }
      case 1: {  // uncompressed bitmap, or the next page's sync word
        i += SkipCounted(skip_, n - i);
        if (skip_ == 0)
          RasterPageDone();
        break;
      }
      case 2:  // a line's repeat count
        ++i;
        linesLeft_ -= std::min<uint64_t>(linesLeft_, uint64_t{p[i - 1]} + 1);
        lineLeft_ = lineBytes_;
        rasterStep_ = 3;
        break;
      case 3: {  // a packet: n+1 repeats of one pixel, or 257-n pixels as they stand
        const unsigned char control = p[i++];
        uint64_t pixels = control < 128 ? uint64_t{control} + 1 : 257 - uint64_t{control};
        if (urf && control == 128)
          pixels = lineLeft_ / pixelBytes_;  // the rest of the line is white
        const uint64_t covered = std::min(lineLeft_, pixels * pixelBytes_);
        lineLeft_ -= covered;
        skip_ = control < 128 ? pixelBytes_ : (urf && control == 128 ? 0 : covered);
        rasterStep_ = 4;
        break;
      }
      default: {  // the packet's pixels
        i += SkipCounted(skip_, n - i);
        if (skip_ == 0) {
          rasterStep_ = lineLeft_ > 0 ? 3 : linesLeft_ > 0 ? 2 : 0;
          if (rasterStep_ == 0)
            RasterPageDone();
        }
        break;
      }
    }
    if (mode_ != Mode::kRaster)
      return i;
  }
  return i;
}

void PageLanguageReader::RasterHeader() {
  uint64_t lines = 0, bytesPerLine = 0, bitsPerPixel = 0;
  if (language_ == PageLanguage::kUrf) {
    const uint64_t width = Word(header_, 12, true);
    lines = Word(header_, 16, true);
    bitsPerPixel = static_cast<unsigned char>(header_[0]);
    pixelBytes_ = std::max<uint64_t>((bitsPerPixel + 7) / 8, 1);
    bytesPerLine = width * pixelBytes_;
    const unsigned char space = static_cast<unsigned char>(header_[1]);
    const unsigned char duplex = static_cast<unsigned char>(header_[2]);
    // sGray and device grey; sRGB, CIELab, AdobeRGB, RGB and CMYK are colour.
    colourUsed_ = colourUsed_ || (space != 0 && space != 4);
    tally_.Eject(1, duplex == 2 || duplex == 3, duplex == 2 ? "SHORTEDGE" : "LONGEDGE");
  } else {
    const bool big = probe_[0] == 'R';
    lines = Word(header_, kRasterHeight, big);
    bytesPerLine = Word(header_, kRasterBytesPerLine, big);
    bitsPerPixel = Word(header_, kRasterBitsPerPixel, big);
    pixelBytes_ = std::max<uint64_t>((bitsPerPixel + 7) / 8, 1);
    colourUsed_ = colourUsed_ || !RasterGrey(Word(header_, kRasterColorSpace, big));
    const bool duplex = Word(header_, kRasterDuplex, big) != 0;
    tally_.Eject(Saturate(Word(header_, kRasterNumCopies, big)), duplex,
                 Word(header_, kRasterTumble, big) != 0 ? "SHORTEDGE" : "LONGEDGE");
  }
  header_.clear();
  if (!pwgLike_) {
    skip_ = lines * bytesPerLine;  // the next page's header follows the bitmap
    rasterStep_ = skip_ > 0 ? 1 : 0;
    return;
  }
  // A line narrower than one pixel, or a page without lines, holds no packets.
  lineBytes_ = bytesPerLine - bytesPerLine % pixelBytes_;
  linesLeft_ = lines;
  rasterStep_ = lines > 0 && lineBytes_ > 0 ? 2 : 0;
  if (rasterStep_ == 0)
    RasterPageDone();
}

void PageLanguageReader::RasterPageDone() {
  rasterStep_ = 0;
  // URF states its page count; each page of the others starts with a header after the last.
  if (language_ == PageLanguage::kUrf && urfPagesLeft_ > 0 && --urfPagesLeft_ == 0)
    mode_ = Mode::kDone;
}

PageLanguageFindings PageLanguageReader::Finish() {
  PageLanguageFindings findings;
  if (mode_ == Mode::kPcl5)
    Pcl5Eject();  // the end of the data prints what the page holds
  findings.language = language_;
  if (language_ == PageLanguage::kUnknown)
    return findings;
  JobInfo& job = findings.found;
  // Impressions are pages times copies. Pages that asked for different copies cannot be told
  // apart in two numbers, so then every impression counts as a page of one copy.
  const uint64_t copies = tally_.mixedCopies ? 1 : std::max<uint64_t>(tally_.firstCopies, 1);
  const uint64_t pages = tally_.mixedCopies ? tally_.impressions : tally_.pages;
  job.pages = std::to_string(pages);
  // QTY repeats the whole job on the printer, each page with its own copies: they multiply.
  job.copies = std::to_string(Times(copies, pjl_.quantity));
  job.duplex = tally_.twoSided ? "TwoSided" : "OneSided";
  job.binding = tally_.twoSided ? tally_.binding : "";
  job.color = colourUsed_ ? "Color" : "Grayscale";
  findings.greyOnly =
      !colourUsed_ && (language_ == PageLanguage::kPclXl || language_ == PageLanguage::kPcl5);
  return findings;
}

}  // namespace vp
