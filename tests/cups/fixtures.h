#pragma once

#include <string>

// Documents and configuration written by the tests themselves.

// A PPD naming the model. With `driverFilter`, its filter lines name the passthru program, so the
// backend gets the document on standard input as from a real driver; without, the filter lines
// need no program and the scheduler hands the backend the spooled file.
std::string MakePpd(const std::string& model, bool driverFilter);
