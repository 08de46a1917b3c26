#pragma once

#include <ostream>
#include <string>

#include "attributes/job_info.h"
#include "attributes/page_language.h"

namespace vp {

// Page count, copy count, colour and duplex from a driver's output in the spool data file. Each
// family reads its own driver's markers; a file that cannot be read gives an empty record. A
// `language` reader, when given, reads the page language in the same pass over the file.

// Any other driver: looks for every family's markers; colour and duplex hits go to the job log.
JobInfo GetPrintFile_Other(std::ostream& log, const std::string& path,
                           PageLanguageReader* language = nullptr);

// The system's own virtual-printer driver.
JobInfo GetPrintFile_Quoradex(const std::string& path, PageLanguageReader* language = nullptr);

// HP drivers, which state colour in a PJL command.
JobInfo GetPrintFile_HP(const std::string& path, PageLanguageReader* language = nullptr);

// KONICA MINOLTA drivers, with their own colour and duplex features.
JobInfo GetPrintFile_KM(const std::string& path, PageLanguageReader* language = nullptr);

}  // namespace vp
