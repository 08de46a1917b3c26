#pragma once

#include <map>
#include <string>

// Documents and configuration written by the tests themselves.

// A valid PDF of that many pages (xref offsets exact, so any reader counts the pages).
std::string MakePdf(int pages);

// A PPD naming the model. With `driverFilter`, its filter lines name the passthru program, so the
// backend gets the document on standard input as from a real driver; without, the filter lines
// need no program and the scheduler hands the backend the spooled file.
std::string MakePpd(const std::string& model, bool driverFilter);

// The client application's settings property list (XML), holding the dictionary "quoradex".
std::string SettingsPlist(const std::map<std::string, std::string>& quoradex);
