#include "bench/bench_inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace vp {

namespace {

constexpr size_t kOutBlock = 1 << 20;
constexpr uint64_t kPostScriptPage = 1 << 20;
constexpr uint64_t kPdfPage = 4 << 20;
constexpr uint64_t kImageWidth = 1024;

// Buffered writes to one file; `ok` turns false at the first failed write and stays so.
struct Out {
  int fd = -1;
  std::vector<char> block;
  uint64_t written = 0;  // bytes handed over so far, buffered ones included
  bool ok = true;
};

bool Flush(Out& out) {
  size_t done = 0;
  while (out.ok && done < out.block.size()) {
    ssize_t n = write(out.fd, out.block.data() + done, out.block.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    out.ok = n > 0;
    done += n > 0 ? static_cast<size_t>(n) : 0;
  }
  out.block.clear();
  return out.ok;
}

void Put(Out& out, std::string_view bytes) {
  out.block.insert(out.block.end(), bytes.begin(), bytes.end());
  out.written += bytes.size();
  if (out.block.size() >= kOutBlock)
    Flush(out);
}

// xorshift64*: fast, and the same seed gives the same job on every machine.
uint64_t NextRandom(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 2685821657736338717ULL;
}

// One line of `length` characters in the ASCII85 alphabet ('!' to 'u'), which holds both '%' and
// '@', the first bytes of every marker.
void PutAscii85Line(Out& out, uint64_t& state, size_t length) {
  std::string line(length + 1, '\n');
  for (size_t i = 0; i < length; ++i) {
    uint64_t byte = NextRandom(state) >> 56;
    line[i] = static_cast<char>('!' + ((byte * 85) >> 8));
  }
  Put(out, line);
}

// Random bytes without a line feed, so the whole run is one long line.
void PutBinaryLine(Out& out, uint64_t& state, size_t length) {
  std::string line(length + 1, '\n');
  for (size_t i = 0; i + 8 <= length; i += 8) {
    uint64_t word = NextRandom(state);
    std::memcpy(&line[i], &word, 8);
  }
  std::replace(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(length), '\n', ' ');
  Put(out, line);
}

void PutRandomBytes(Out& out, uint64_t& state, uint64_t length) {
  std::string chunk;
  while (length > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(length, kOutBlock));
    chunk.resize(n);
    for (size_t i = 0; i < n; i += 8) {
      uint64_t word = NextRandom(state);
      std::memcpy(&chunk[i], &word, std::min<size_t>(8, n - i));
    }
    Put(out, chunk);
    length -= n;
  }
}

constexpr std::string_view kPostScriptHead =
    "\x1b%-12345X@PJL JOB NAME=\"quarterly-report.pdf\"\n"
    "@PJL SET GRAYSCALE=OFF\n"
    "@PJL SET DUPLEX=ON\n"
    "@PJL SET RESOLUTION=600\n"
    "@PJL ENTER LANGUAGE=POSTSCRIPT\n"
    "%!PS-Adobe-3.0\n"
    "%%Creator: Office Driver 4.2\n"
    "%%Title: quarterly-report.pdf\n"
    "%%For: alice\n"
    "%%CreationDate: Tue Mar  5 10:12:44 2024\n"
    "%%Pages: (atend)\n"
    "%%BoundingBox: 0 0 595 842\n"
    "%%DocumentData: Binary\n"
    "%%LanguageLevel: 3\n"
    "%%EndComments\n"
    "%%BeginProlog\n"
    "/bd {bind def} bind def /ld {load def} bd /sv /save ld /rs /restore ld\n"
    "%%EndProlog\n"
    "%%BeginSetup\n"
    "%RBINumCopies: 2\n"
    "%%BeginFeature: *PageSize A4\n<</PageSize [595 842] /ImagingBBox null>> setpagedevice\n"
    "%%EndFeature\n"
    "%%BeginFeature: *ColorModel RGB\n<</ProcessColorModel /DeviceRGB>> setpagedevice\n"
    "%%EndFeature\n"
    "%%BeginFeature: *SelectColor Color\n%%EndFeature\n"
    "%%BeginFeature: *Duplex DuplexNoTumble\n<</Duplex true /Tumble false>> setpagedevice\n"
    "%%EndFeature\n"
    "%%BeginFeature: *KMDuplex Double\n%%EndFeature\n"
    "%%EndSetup\n";

constexpr std::string_view kImageStart =
    "%%BeginPageSetup\n/pagesave save def\n%%EndPageSetup\n"
    "gsave 0 0 595 842 rectclip /DeviceRGB setcolorspace\n"
    "<< /ImageType 1 /Width 1240 /Height 1754 /BitsPerComponent 8 /Decode [0 1 0 1 0 1]\n"
    "/ImageMatrix [1240 0 0 -1754 0 1754] /DataSource currentfile /ASCII85Decode filter >> "
    "image\n";

constexpr std::string_view kPageEnd = "grestore\npagesave restore\nshowpage\n%%PageTrailer\n";

// Half of a page's data as 80-column ASCII85 lines, half as long raw lines of 4 to 64 KiB.
void PutPostScriptPage(Out& out, uint64_t& state, uint64_t page, uint64_t bytes) {
  std::string number = std::to_string(page);
  Put(out, "%%Page: " + number + " " + number + "\n");
  Put(out, kImageStart);
  const uint64_t textEnd = out.written + bytes / 2;
  while (out.written < textEnd)
    PutAscii85Line(out, state, 80);
  Put(out, "~>\n");
  const uint64_t binaryEnd = textEnd + bytes / 2;
  Put(out, "%%BeginData: " + std::to_string(bytes / 2) + " Binary Bytes\n");
  while (out.written < binaryEnd) {
    uint64_t left = binaryEnd - out.written;
    uint64_t length = std::min<uint64_t>(left, 4096 + NextRandom(state) % (60 * 1024));
    PutBinaryLine(out, state, static_cast<size_t>(length));
  }
  Put(out, "%%EndData\n");
  Put(out, kPageEnd);
}

std::string Offset(uint64_t offset) {
  std::string text = std::to_string(offset);
  return std::string(10 - std::min<size_t>(10, text.size()), '0') + text;
}

void PutObject(Out& out, std::vector<uint64_t>& offsets, const std::string& body) {
  offsets.push_back(out.written);
  Put(out, std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n");
}

// Objects: 1 catalog, 2 page tree, then per page its page, content stream and image.
void PutPdfPage(Out& out, std::vector<uint64_t>& offsets, uint64_t& state, uint64_t height) {
  const uint64_t first = offsets.size() + 1;
  PutObject(out, offsets,
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject << "
            "/Im0 " +
                std::to_string(first + 2) + " 0 R >> >> /Contents " + std::to_string(first + 1) +
                " 0 R >>");
  const std::string draw = "q 595 0 0 842 0 0 cm /Im0 Do Q";
  PutObject(out, offsets,
            "<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream");
  const uint64_t length = kImageWidth * height * 3;
  offsets.push_back(out.written);
  Put(out, std::to_string(offsets.size()) + " 0 obj\n<< /Type /XObject /Subtype /Image /Width " +
               std::to_string(kImageWidth) + " /Height " + std::to_string(height) +
               " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length " + std::to_string(length) +
               " >>\nstream\n");
  PutRandomBytes(out, state, length);
  Put(out, "\nendstream\nendobj\n");
}

void PutPdfTrailer(Out& out, const std::vector<uint64_t>& offsets) {
  const uint64_t xref = out.written;
  Put(out, "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n");
  for (uint64_t offset : offsets)
    Put(out, Offset(offset) + " 00000 n \n");
  Put(out, "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
               " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
}

int OpenOutput(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

bool Finish(Out& out) {
  bool ok = Flush(out);
  return close(out.fd) == 0 && ok;
}

}  // namespace

bool MakePostScriptJob(const std::string& path, uint64_t size) {
  Out out;
  out.fd = OpenOutput(path);
  if (out.fd < 0)
    return false;
  uint64_t state = 0x9E3779B97F4A7C15ULL;
  Put(out, kPostScriptHead);
  const uint64_t pageBytes = std::min(kPostScriptPage, size);
  uint64_t pages = 0;
  while (out.written + 512 < size) {
    uint64_t left = size - out.written - 256;
    PutPostScriptPage(out, state, ++pages, std::min(pageBytes, left));
  }
  Put(out, "%%Trailer\n%%Pages: " + std::to_string(pages) +
               "\n%%EOF\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X");
  return Finish(out);
}

bool MakePclXlJob(const std::string& path, uint64_t size) {
  using namespace std::string_view_literals;  // the tag stream holds zero bytes
  static constexpr std::string_view kHead =
      "\x1b%-12345X@PJL SET RENDERMODE=GRAYSCALE\n@PJL ENTER LANGUAGE = PCLXL\n"
      ") HP-PCL XL;2;0;Comment made for the benchmarks\n"
      "\xd1\x58\x02\x58\x02\xf8\x89\xc0\x00\xf8\x86\xc0\x03\xf8\x8f\x41"sv;
  static constexpr std::string_view kPageStart =
      "\xc0\x00\xf8\x28\xc0\x02\xf8\x25\xc0\x00\xf8\x34\x43\xc0\x01\xf8\x03\x6a"sv;
  static constexpr std::string_view kPageEnd = "\xc1\x01\x00\xf8\x31\x44"sv;
  constexpr uint32_t kImageBlock = 64 << 10;
  Out out;
  out.fd = OpenOutput(path);
  if (out.fd < 0)
    return false;
  uint64_t state = 0xA0761D6478BD642FULL;
  Put(out, kHead);
  uint64_t pageBytes = 0;
  while (out.written + kImageBlock + 64 < size) {
    if (pageBytes == 0)
      Put(out, kPageStart);
    // ReadImage, then its data as one embedded block of a 32-bit length.
    const char length[] = {'\xb1', '\xfa', 0, 0, 1, 0};
    Put(out, std::string_view(length, sizeof length));
    PutRandomBytes(out, state, kImageBlock);
    pageBytes += kImageBlock;
    if (pageBytes >= kPostScriptPage) {
      Put(out, kPageEnd);
      pageBytes = 0;
    }
  }
  if (pageBytes > 0)
    Put(out, kPageEnd);
  Put(out, "\x42\x1b%-12345X@PJL EOJ\n\x1b%-12345X");
  return Finish(out);
}

bool MakePdfJob(const std::string& path, uint64_t size) {
  Out out;
  out.fd = OpenOutput(path);
  if (out.fd < 0)
    return false;
  uint64_t state = 0xD1B54A32D192ED03ULL;
  const uint64_t pages = std::max<uint64_t>(1, size / kPdfPage);
  const uint64_t height = std::max<uint64_t>(1, size / pages / (kImageWidth * 3));
  std::vector<uint64_t> offsets;
  Put(out, "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
  PutObject(out, offsets, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (uint64_t page = 0; page < pages; ++page)
    kids += std::to_string(3 + 3 * page) + " 0 R ";
  PutObject(out, offsets,
            "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  for (uint64_t page = 0; page < pages; ++page)
    PutPdfPage(out, offsets, state, height);
  PutPdfTrailer(out, offsets);
  return Finish(out);
}

uint64_t ParseSize(const std::string& text) {
  static constexpr std::string_view kUnits = "KMG";
  size_t digits = 0;
  while (digits < text.size() && digits < 15 && text[digits] >= '0' && text[digits] <= '9')
    ++digits;
  if (digits == 0)
    return 0;
  uint64_t value = std::stoull(text.substr(0, digits));
  std::string unit = text.substr(digits);
  if (unit.empty())
    return value;
  size_t power = kUnits.find(static_cast<char>(toupper(static_cast<unsigned char>(unit[0]))));
  if (unit.size() != 1 || power == std::string_view::npos)
    return 0;
  return value << (10 * (power + 1));
}

std::string SizeName(uint64_t size) {
  static constexpr std::string_view kUnits = "GMK";
  for (size_t i = 0; i < kUnits.size(); ++i) {
    const unsigned shift = static_cast<unsigned>(10 * (kUnits.size() - i));
    if (size >= (uint64_t{1} << shift) && size % (uint64_t{1} << shift) == 0)
      return std::to_string(size >> shift) + kUnits[i];
  }
  return std::to_string(size);
}

}  // namespace vp
