#include "tests/support/test_pdf.h"

#include <cstdio>
#include <vector>

namespace vp {

namespace {

std::string XrefEntry(size_t offset) {
  char entry[21];
  std::snprintf(entry, sizeof(entry), "%010zu 00000 n \n", offset);
  return entry;
}

std::string PageObject(int number, int contents) {
  return std::to_string(number) +
         " 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
         std::to_string(contents) + " 0 R /Resources << /Font << /F1 3 0 R >> >> >>\nendobj\n";
}

std::string ContentObject(int number, int page) {
  std::string stream = "BT /F1 24 Tf 72 760 Td (Page " + std::to_string(page) + ") Tj ET";
  return std::to_string(number) + " 0 obj\n<< /Length " + std::to_string(stream.size()) +
         " >>\nstream\n" + stream + "\nendstream\nendobj\n";
}

}  // namespace

std::string MakePdf(int pages, const std::string& title) {
  // Objects: 1 catalog, 2 page tree, 3 font, then a page and its contents per page.
  std::string kids;
  for (int page = 0; page < pages; ++page)
    kids += std::to_string(4 + 2 * page) + " 0 R ";
  std::vector<std::string> objects = {
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n",
      "2 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
          " >>\nendobj\n",
      "3 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n"};
  for (int page = 0; page < pages; ++page) {
    objects.push_back(PageObject(4 + 2 * page, 5 + 2 * page));
    objects.push_back(ContentObject(5 + 2 * page, page + 1));
  }
  const std::string info = std::to_string(objects.size() + 1);
  if (!title.empty())
    objects.push_back(info + " 0 obj\n<< /Title (" + title + ") >>\nendobj\n");
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::string& object : objects) {
    xref += XrefEntry(pdf.size());
    pdf += object;
  }
  size_t xrefAt = pdf.size();
  return pdf + xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" +
         (title.empty() ? "" : " /Info " + info + " 0 R") + " >>\nstartxref\n" +
         std::to_string(xrefAt) + "\n%%EOF\n";
}

}  // namespace vp
