#include "attributes/page_language.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {

namespace {

using namespace std::string_literals;

const std::string kPjlXl = "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0;Comment\n"s;
const std::string kEnd = "\x1b%-12345X@PJL EOJ\n"s;

// PCL XL in the little-endian binding Ghostscript writes.
std::string Ubyte(unsigned v) {
  return "\xc0"s + static_cast<char>(v);
}
std::string Uint16(unsigned v) {
  return "\xc1"s + static_cast<char>(v & 0xff) + static_cast<char>(v >> 8);
}
std::string Attr(unsigned id) {
  return "\xf8"s + static_cast<char>(id);
}
const std::string kBeginPage = "\x43"s, kEndPage = "\x44"s;
std::string SetColorSpace(unsigned space) {
  return Ubyte(space) + Attr(0x03) + "\x6a";
}
// A page that draws an image of `bytes` bytes; the embedded data is filled with tag bytes, so a
// reader that does not skip it by its length sees operators.
std::string XlPage(const std::string& before, const std::string& after, size_t bytes = 64) {
  const std::string data(bytes, '\x44');
  const std::string length = {static_cast<char>(bytes & 0xff), static_cast<char>(bytes >> 8 & 0xff),
                              0, 0};
  return before + kBeginPage + SetColorSpace(1) + "\xb0\xfa"s + length + data + after + kEndPage;
}

std::string Pcl5Raster(size_t bytes) {
  return "\x1b*b" + std::to_string(bytes) + "W" + std::string(bytes, '\f');
}

// A CUPS or PWG raster page header (version 2, big-endian) for a page of `lines` lines.
std::string RasterHeader(bool pwg, uint32_t duplex, uint32_t tumble, uint32_t copies,
                         uint32_t space, uint32_t lines, uint32_t bytesPerLine) {
  std::string h(1796, '\0');
  if (pwg)
    h.replace(0, 9, "PwgRaster");
  auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k)
      h[at + k] = static_cast<char>(v >> (24 - 8 * k));
  };
  put(272, duplex);
  put(340, copies);
  put(368, tumble);
  put(376, lines);
  put(388, 8);
  put(392, bytesPerLine);
  put(400, space);
  return h;
}

// One compressed line of `width` grey pixels: a repeat count, then packets.
std::string CompressedLines(uint32_t lines, uint32_t width) {
  std::string data;
  for (uint32_t l = 0; l < lines; ++l)
    data += std::string(1, '\0') + static_cast<char>(width - 1) + "\x0c";
  return data;
}

std::string UrfPage(unsigned char space, unsigned char duplex, uint32_t lines) {
  std::string h(32, '\0');
  h[0] = 8;
  h[1] = static_cast<char>(space);
  h[2] = static_cast<char>(duplex);
  h[15] = 4;  // four pixels wide
  h[19] = static_cast<char>(lines);
  return h + CompressedLines(lines, 4);
}

struct Row {
  const char* name;
  std::string data;
  PageLanguage language;
  const char* pages;
  const char* copies;
  const char* duplex;
  const char* binding;
  const char* color;
  bool greyOnly;
};

std::vector<Row> Rows() {
  const std::string gray = XlPage("", "");
  const std::string copies3 = XlPage("", Uint16(3) + Attr(0x31));
  const std::string longEdge = XlPage(Ubyte(1) + Attr(0x35), Uint16(1) + Attr(0x31));
  const std::string pwg = "RaS2"s + RasterHeader(true, 1, 1, 1, 19, 2, 4) + CompressedLines(2, 4);
  return {
      {"PCL XL, four grey pages", kPjlXl + gray + gray + gray + gray + kEnd, PageLanguage::kPclXl,
       "4", "1", "OneSided", "", "Grayscale", true},
      {"PCL XL, page copies 3", kPjlXl + copies3 + copies3 + kEnd, PageLanguage::kPclXl, "2", "3",
       "OneSided", "", "Grayscale", true},
      {"PCL XL, PJL COPIES is the pages' default",
       "\x1b%-12345X@PJL SET COPIES=3\r\n" + kPjlXl.substr(9) + gray + gray, PageLanguage::kPclXl,
       "2", "3", "OneSided", "", "Grayscale", true},
      {"PCL XL, QTY 2 times 2 copies of every page",
       "\x1b%-12345X@PJL SET QTY=2\n" + kPjlXl.substr(9) + XlPage("", Uint16(2) + Attr(0x31)) +
           XlPage("", Uint16(2) + Attr(0x31)) + XlPage("", Uint16(2) + Attr(0x31)) +
           XlPage("", Uint16(2) + Attr(0x31)),
       PageLanguage::kPclXl, "4", "4", "OneSided", "", "Grayscale", true},
      {"PCL XL, pages of different copies count as impressions", kPjlXl + copies3 + gray + kEnd,
       PageLanguage::kPclXl, "4", "1", "OneSided", "", "Grayscale", true},
      {"PCL XL, duplex on the vertical edge", kPjlXl + longEdge + longEdge, PageLanguage::kPclXl,
       "2", "1", "TwoSided", "LONGEDGE", "Grayscale", true},
      {"PCL XL, duplex on the horizontal edge", kPjlXl + XlPage(Ubyte(0) + Attr(0x35), ""),
       PageLanguage::kPclXl, "1", "1", "TwoSided", "SHORTEDGE", "Grayscale", true},
      {"PCL XL, PJL DUPLEX where the page says nothing",
       "@PJL SET DUPLEX=ON\n@PJL SET BINDING=SHORTEDGE\n" + kPjlXl.substr(9) + gray,
       PageLanguage::kPclXl, "1", "1", "TwoSided", "SHORTEDGE", "Grayscale", true},
      {"PCL XL, simplex page mode overrides PJL DUPLEX",
       "@PJL SET DUPLEX=ON\n" + kPjlXl.substr(9) + XlPage(Ubyte(0) + Attr(0x34), ""),
       PageLanguage::kPclXl, "1", "1", "OneSided", "", "Grayscale", true},
      {"PCL XL, one RGB colour space", kPjlXl + gray + XlPage(SetColorSpace(2), ""),
       PageLanguage::kPclXl, "2", "1", "OneSided", "", "Color", false},
      {"PCL XL, big-endian binding, sRGB",
       "( HP-PCL XL;3;0\n" + kBeginPage + "\xc0\x06\xf8\x03\x6a\xc1\x00\x05\xf8\x31"s + kEndPage,
       PageLanguage::kPclXl, "1", "5", "OneSided", "", "Color", false},
      {"PCL XL, arrays and 16-bit attribute ids are stepped over",
       kPjlXl + "\xc8\xc1\x04\x00\x44\x44\x44\x44\xf9\x03\x00"s + "\xd1\x00\x00\x00\x00"s + gray,
       PageLanguage::kPclXl, "1", "1", "OneSided", "", "Grayscale", true},
      {"PCL XL, embedded length past the end", kPjlXl + gray + "\xfa\xff\xff\xff\xff\x44\x44"s,
       PageLanguage::kPclXl, "1", "1", "OneSided", "", "Grayscale", true},
      {"PCL XL, truncated in a value", kPjlXl + gray + "\xc1\x03"s, PageLanguage::kPclXl, "1", "1",
       "OneSided", "", "Grayscale", true},
      {"PCL 5, two pages of raster and form feeds",
       "\x1b"
       "E\x1b&l2X\x1b*r1U" +
           Pcl5Raster(40) + "\f" + Pcl5Raster(40) +
           "\f\x1b"
           "E" +
           kEnd,
       PageLanguage::kPcl5, "2", "2", "OneSided", "", "Grayscale", true},
      {"PCL 5, a trailing form feed on an empty page prints nothing",
       "\x1b"
       "EHello\f\f\x1b"
       "E\f",
       PageLanguage::kPcl5, "1", "1", "OneSided", "", "Grayscale", true},
      {"PCL 5, combined escape sets copies and duplex",
       "\x1b"
       "E\x1b&l3x1S"
       "text\x1b&l0H",
       PageLanguage::kPcl5, "1", "3", "TwoSided", "LONGEDGE", "Grayscale", true},
      {"PCL 5, sides of a sheet chosen by the duplex side command",
       "\x1b"
       "E\x1b&l1S" +
           Pcl5Raster(4) + "\x1b&a2G" + Pcl5Raster(4) +
           "\f\x1b"
           "E",
       PageLanguage::kPcl5, "2", "1", "TwoSided", "LONGEDGE", "Grayscale", true},
      {"PCL 5, short-edge duplex, page without a final eject", "\x1b&l2Stext", PageLanguage::kPcl5,
       "1", "1", "TwoSided", "SHORTEDGE", "Grayscale", true},
      {"PCL 5, reset restores the PJL copies",
       "@PJL SET COPIES=2\n\x1b"
       "E\x1b&l5Xa\x1b"
       "Eb",
       PageLanguage::kPcl5, "7", "1", "OneSided", "", "Grayscale", true},
      {"PCL 5c, three-plane colour",
       "\x1b"
       "E\x1b*r3U" +
           Pcl5Raster(8) + "\f",
       PageLanguage::kPcl5, "1", "1", "OneSided", "", "Color", false},
      {"PCL 5c, configure image data", "\x1b*v6W\0\3\0\x08\x08\x08"s + "x", PageLanguage::kPcl5,
       "1", "1", "OneSided", "", "Color", false},
      {"PCL 5, font data and transparent data are skipped", "\x1b)s4W\f\f\f\f\x1b&p2X\f\f"s,
       PageLanguage::kPcl5, "1", "1", "OneSided", "", "Grayscale", true},
      {"PCL 5, huge raster length",
       "\x1b"
       "Ex\x1b*b99999999999999999999W\f\f",
       PageLanguage::kPcl5, "1", "1", "OneSided", "", "Grayscale", true},
      {"PWG raster, two-sided sRGB",
       pwg + RasterHeader(true, 1, 1, 1, 19, 2, 4) + CompressedLines(2, 4),
       PageLanguage::kPwgRaster, "2", "1", "TwoSided", "SHORTEDGE", "Color", false},
      {"CUPS raster v3, uncompressed grey, 2 copies",
       "RaS3"s + RasterHeader(false, 0, 0, 2, 18, 3, 5) + std::string(15, 'R') +
           RasterHeader(false, 0, 0, 2, 18, 3, 5) + std::string(15, 'R'),
       PageLanguage::kCupsRaster, "2", "2", "OneSided", "", "Grayscale", false},
      {"URF, three pages, long edge, one colour",
       "UNIRAST\0\0\0\0\3"s + UrfPage(0, 3, 2) + UrfPage(1, 3, 2) + UrfPage(0, 3, 1),
       PageLanguage::kUrf, "3", "1", "TwoSided", "LONGEDGE", "Color", false},
      {"PostScript is not a page language", "\x1b%-12345X@PJL JOB\n%!PS-Adobe-3.0\n",
       PageLanguage::kUnknown, "", "", "", "", "", false},
      {"PostScript behind a PCL reset",
       "\x1b"
       "E\x1b&l2X%!PS-Adobe-3.0\nshowpage\n",
       PageLanguage::kUnknown, "", "", "", "", "", false},
      {"PostScript entered by PJL",
       "@PJL ENTER LANGUAGE = POSTSCRIPT\n\x1b"
       "E%!PS\n",
       PageLanguage::kUnknown, "", "", "", "", "", false},
      {"Garbage after a PJL header", "@PJL\n\x01\x02\x03", PageLanguage::kUnknown, "", "", "", "",
       "", false},
  };
}

PageLanguageFindings Read(const std::string& data, size_t piece) {
  PageLanguageReader reader;
  for (size_t at = 0; at < data.size(); at += piece)
    reader.Feed(data.data() + at, std::min(piece, data.size() - at));
  return reader.Finish();
}

// Each row read whole and in pieces of every small size: a piece boundary anywhere, inside a
// tag, an escape or a header, must not change what is read.
TEST(PageLanguageReader, ReadsWhatThePrinterPrints) {
  for (const Row& row : Rows()) {
    for (size_t piece : {row.data.size() + 1, size_t{1}, size_t{2}, size_t{3}, size_t{7}}) {
      SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
      const PageLanguageFindings f = Read(row.data, piece);
      EXPECT_EQ(f.language, row.language);
      EXPECT_EQ(f.found.pages, row.pages);
      EXPECT_EQ(f.found.copies, row.copies);
      EXPECT_EQ(f.found.duplex, row.duplex);
      EXPECT_EQ(f.found.binding, row.binding);
      EXPECT_EQ(f.found.color, row.color);
      EXPECT_EQ(f.greyOnly, row.greyOnly && row.language != PageLanguage::kUnknown);
    }
  }
}

}  // namespace

}  // namespace vp
