#include "tests/cups/fixtures.h"

#include <cstdio>
#include <vector>

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

std::string MakePdf(int pages) {
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
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::string& object : objects) {
    xref += XrefEntry(pdf.size());
    pdf += object;
  }
  size_t xrefAt = pdf.size();
  return pdf + xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
}

std::string MakePpd(const std::string& model, bool driverFilter) {
  std::string pdfFilter =
      driverFilter ? "application/vnd.cups-pdf 0 passthru" : "application/pdf 0 -";
  std::string psFilter =
      driverFilter ? "application/vnd.cups-postscript 0 passthru" : "application/postscript 0 -";
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"VPTEST.PPD\"\n"
         "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \"" +
         model + "\"\n*ShortNickName: \"" + model + "\"\n*NickName: \"" + model +
         "\"\n*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: True\n"
         "*cupsFilter2: \"application/pdf " +
         pdfFilter + "\"\n*cupsFilter2: \"application/postscript " + psFilter +
         "\"\n"
         "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
         "*PageSize A3/A3: \"<</PageSize[842 1191]>>setpagedevice\"\n"
         "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
         "*PageSize Legal/Legal: \"<</PageSize[612 1008]>>setpagedevice\"\n"
         "*CloseUI: *PageSize\n"
         "*DefaultImageableArea: A4\n*ImageableArea A4: \"0 0 595 842\"\n"
         "*ImageableArea A3: \"0 0 842 1191\"\n*ImageableArea Letter: \"0 0 612 792\"\n"
         "*ImageableArea Legal: \"0 0 612 1008\"\n"
         "*DefaultPaperDimension: A4\n*PaperDimension A4: \"595 842\"\n"
         "*PaperDimension A3: \"842 1191\"\n*PaperDimension Letter: \"612 792\"\n"
         "*PaperDimension Legal: \"612 1008\"\n";
}

std::string SettingsPlist(const std::map<std::string, std::string>& quoradex) {
  std::string entries;
  for (const auto& [key, value] : quoradex)
    entries += "\t\t<key>" + key + "</key>\n\t\t<string>" + value + "</string>\n";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n\t<key>quoradex</key>\n\t<dict>\n" +
         entries + "\t</dict>\n</dict>\n</plist>\n";
}
