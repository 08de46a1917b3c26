#include "attributes/print_file_parsers.h"

#include <string_view>

#include "attributes/marker_scan.h"

namespace vp {

namespace {

constexpr std::string_view kRgb[] = {"RGB"};
constexpr std::string_view kRgbOrCmyk[] = {"RGB", "CMYK"};
constexpr std::string_view kGrayscaleOff[] = {"OFF"};
constexpr std::string_view kSelectColor[] = {"Color"};
constexpr std::string_view kDuplexNone[] = {"None"};
// KONICA MINOLTA PPDs offer either Single/Double/Booklet or a True/False switch.
constexpr std::string_view kKMSingle[] = {"Single", "False"};

constexpr Rule kColorQuoradex{kRgb, "Color", "Grayscale"};
constexpr Rule kColorAnyModel{kRgbOrCmyk, "Color", "Grayscale"};
constexpr Rule kColorHP{kGrayscaleOff, "Color", "Grayscale"};
constexpr Rule kColorKM{kSelectColor, "Color", "Grayscale"};
constexpr Rule kDuplex{kDuplexNone, "OneSided", "TwoSided"};
constexpr Rule kDuplexKM{kKMSingle, "OneSided", "TwoSided"};

constexpr std::string_view kPages = "%%Pages: ";
constexpr std::string_view kCopies = "%RBINumCopies: ";
constexpr std::string_view kColorModel = "%%BeginFeature: *ColorModel ";
constexpr std::string_view kPjlGrayscale = "@PJL SET GRAYSCALE=";
constexpr std::string_view kSelectColorFeature = "%%BeginFeature: *SelectColor ";
constexpr std::string_view kDuplexFeature = "%%BeginFeature: *Duplex ";
constexpr std::string_view kKMDuplexFeature = "%%BeginFeature: *KMDuplex ";

// The generic parser does not know the family, so it tries all of them; the Quoradex and HP
// duplex markers coincide and are both kept, each with its own log label.
constexpr Marker kOtherMarkers[] = {
    {kPages, &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {kCopies, &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {kColorModel, &JobInfo::color, kColorAnyModel, Report::kJobLog, "color_temp-QX"},
    {kPjlGrayscale, &JobInfo::color, kColorHP, Report::kJobLog, "color_temp-HP"},
    {kSelectColorFeature, &JobInfo::color, kColorKM, Report::kJobLog, "color_temp-KM"},
    {kDuplexFeature, &JobInfo::duplex, kDuplex, Report::kJobLog, "duplex_temp-QX"},
    {kDuplexFeature, &JobInfo::duplex, kDuplex, Report::kJobLog, "duplex_temp-HP"},
    {kKMDuplexFeature, &JobInfo::duplex, kDuplexKM, Report::kJobLog, "duplex_temp-KM"},
};

constexpr Marker kQuoradexMarkers[] = {
    {kPages, &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {kCopies, &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {kColorModel, &JobInfo::color, kColorQuoradex, Report::kStdout, "color_temp:"},
    {kDuplexFeature, &JobInfo::duplex, kDuplex, Report::kStdout, "duplex_temp:"},
};

constexpr Marker kHPMarkers[] = {
    {kPages, &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {kCopies, &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {kPjlGrayscale, &JobInfo::color, kColorHP, Report::kStdout, "color_temp:"},
    {kDuplexFeature, &JobInfo::duplex, kDuplex, Report::kStdout, "duplex_temp:"},
};

constexpr Marker kKMMarkers[] = {
    {kPages, &JobInfo::pages, kCountRule, Report::kStdout, "pages_temp:"},
    {kCopies, &JobInfo::copies, kCountRule, Report::kStdout, "copies_temp:"},
    {kSelectColorFeature, &JobInfo::color, kColorKM, Report::kStdout, "color_temp:"},
    {kKMDuplexFeature, &JobInfo::duplex, kDuplexKM, Report::kStdout, "duplex_temp:"},
};

// The three driver families report on standard output only; their tables never name the job log.
JobInfo ScanWithoutLog(const std::string& path, std::span<const Marker> markers,
                       PageLanguageReader* language) {
  std::ostream nowhere(nullptr);
  return ScanMarkers(nowhere, path, markers, kScanBlockSize, language);
}

}  // namespace

JobInfo GetPrintFile_Other(std::ostream& log, const std::string& path,
                           PageLanguageReader* language) {
  return ScanMarkers(log, path, kOtherMarkers, kScanBlockSize, language);
}

JobInfo GetPrintFile_Quoradex(const std::string& path, PageLanguageReader* language) {
  return ScanWithoutLog(path, kQuoradexMarkers, language);
}

JobInfo GetPrintFile_HP(const std::string& path, PageLanguageReader* language) {
  return ScanWithoutLog(path, kHPMarkers, language);
}

JobInfo GetPrintFile_KM(const std::string& path, PageLanguageReader* language) {
  return ScanWithoutLog(path, kKMMarkers, language);
}

}  // namespace vp
