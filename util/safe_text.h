#pragma once

#include <string>

namespace vp {

// Text from outside (a job title, a setting, a server's answer, a process name) travels into
// formats that are read line by line: the status lines the scheduler takes commands from, the PJL
// envelope, the control file, the check's report. A control character there (CR, LF, ESC...)
// would end a line and start one of the sender's choosing, or command a terminal. These are the
// only forms in which such text goes there.

// Whether the byte is an ASCII control character (below 0x20, or DEL); UTF-8 passes as it is.
bool IsControlCharacter(char c);

// The text with every control character a blank: one line, whatever it held.
std::string OnOneLine(const std::string& text);

// The text with every control character written as an escape people can read: \n, \r, \t, and
// \xNN for the others (\x1b for ESC).
std::string EscapedControlCharacters(const std::string& text);

// A server address with its user information ("user:password@") shown as "***@". The user
// information runs to the last '@' before the first '/' after the scheme: a password may hold
// '@', '?' or '#', and all of it stays hidden.
std::string MaskedUserInfo(const std::string& address);

}  // namespace vp
