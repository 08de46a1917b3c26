#include "tests/cups/fixtures.h"

#include <unistd.h>

#include "tests/cups/private_cups.h"
#include "tests/support/files.h"

namespace vp {

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

std::string DriverPpd(const std::string& uri) {
  if (uri.starts_with("/")) {
    const std::string ppd = ReadFile(uri);
    return ppd.rfind("*PPD-Adobe", 0) == 0 ? ppd : "";
  }
  // CUPS's own drivers (drv:///sample.drv/...) are compiled by the scheduler's driver program,
  // which talks on standard error.
  if (uri.starts_with("drv:")) {
    CommandResult ppd = RunCommand(
        {"sh", "-c", "exec /usr/lib/cups/daemon/cups-driverd cat \"$0\" 2>/dev/null", uri});
    return ppd.status == 0 && ppd.output.rfind("*PPD-Adobe", 0) == 0 ? ppd.output : "";
  }
  std::string driver = "/usr/lib/cups/driver/" + uri.substr(0, uri.find(':'));
  if (access(driver.c_str(), X_OK) != 0)
    return "";
  CommandResult ppd = RunCommand({driver, "cat", uri});
  return ppd.status == 0 && ppd.output.rfind("*PPD-Adobe", 0) == 0 ? ppd.output : "";
}

}  // namespace vp
