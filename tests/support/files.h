#pragma once

#include <string>
#include <vector>

namespace vp {

// File and job-log helpers shared by the tests.

// A whole file's bytes, or empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Writes the bytes to the file, replacing it; false when that failed.
bool WriteFile(const std::string& path, const std::string& bytes);

// True when something has that name, without following a symbolic link.
bool FileExists(const std::string& path);

// The lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

// The lines of a job log with their "YYYY-MM-DD HH:MM:SS " stamps removed; plain lines stay.
std::vector<std::string> Unstamped(const std::string& log);

bool Contains(const std::vector<std::string>& lines, const std::string& line);

}  // namespace vp
