#pragma once

#include <cstdio>

// libcups exports these message functions but installs no header for them. They look the message
// up in the CUPS catalogue and write one status line to the given stream (standard error for
// _cupsLangPrintError).
extern "C" {
int _cupsLangPrintError(const char* prefix, const char* message);
int _cupsLangPrintFilter(FILE* fp, const char* prefix, const char* message, ...);
int _cupsLangPrintf(FILE* fp, const char* message, ...);
}
