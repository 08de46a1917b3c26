// Runs a program in a mount namespace of its own in which every file system is read-only except
// the folders named with -w (and /dev), and the folders named with -h are covered by an empty,
// read-only tmpfs. That is how the scheduler's strict sandbox on macOS treats a backend's files, as
// far as Linux mounts can show it; the private scheduler starts its programs through this.
// Usage: mount-sandbox [-w FOLDER]... [-h FOLDER]... -- PROGRAM [ARGUMENT]...

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vp {

namespace {

// Status of a sandbox that could not be set up: the program never ran.
constexpr int kNotSandboxed = 126;

struct Rules {
  std::vector<std::string> writable;
  std::vector<std::string> hidden;
  char** program = nullptr;
};

bool Under(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                            (folder.ends_with('/') || path[folder.size()] == '/'));
}

// Mount points in mountinfo have blanks, tabs, newlines and backslashes as octal escapes.
std::string Unescaped(const std::string& field) {
  std::string plain;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      plain += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      plain += field[i];
    }
  }
  return plain;
}

struct Mount {
  std::string point;
  unsigned long flags = 0;  // the per-mount flags a bind remount must keep
};

unsigned long MountFlags(const std::string& options) {
  static const struct {
    const char* name;
    unsigned long flag;
  } kFlags[] = {{"nosuid", MS_NOSUID},   {"nodev", MS_NODEV},           {"noexec", MS_NOEXEC},
                {"noatime", MS_NOATIME}, {"nodiratime", MS_NODIRATIME}, {"relatime", MS_RELATIME}};
  unsigned long flags = 0;
  std::stringstream words(options);
  std::string word;
  while (std::getline(words, word, ',')) {
    for (const auto& known : kFlags)
      flags |= word == known.name ? known.flag : 0;
  }
  return flags;
}

std::vector<Mount> Mounts() {
  std::vector<Mount> mounts;
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  while (std::getline(info, line)) {
    std::stringstream fields(line);
    std::string id, parent, device, root, point, options;
    fields >> id >> parent >> device >> root >> point >> options;
    mounts.push_back({Unescaped(point), MountFlags(options)});
  }
  return mounts;
}

bool Fail(const std::string& what, const std::string& path) {
  std::fprintf(stderr, "mount-sandbox: %s %s: %s\n", what.c_str(), path.c_str(),
               std::strerror(errno));
  return false;
}

bool Apply(const Rules& rules) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Fail("cannot make a mount namespace for", rules.program[0]);
  for (const std::string& folder : rules.hidden) {
    if (mount("tmpfs", folder.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "mode=000") != 0)
      return Fail("cannot hide", folder);
  }
  // Each writable folder becomes a mount of its own, so that making its file system read-only
  // leaves it alone.
  for (const std::string& folder : rules.writable) {
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return Fail("cannot bind", folder);
  }
  for (const Mount& each : Mounts()) {
    // The profile lets a backend write to devices; mounts under a hidden folder cannot be reached.
    bool kept = Under(each.point, "/dev");
    for (const std::string& folder : rules.writable)
      kept = kept || Under(each.point, folder);
    for (const std::string& folder : rules.hidden)
      kept = kept || (each.point != folder && Under(each.point, folder));
    if (!kept && mount(nullptr, each.point.c_str(), nullptr,
                       MS_REMOUNT | MS_BIND | MS_RDONLY | each.flags, nullptr) != 0)
      return Fail("cannot make read-only", each.point);
  }
  return true;
}

bool Parse(char* argv[], Rules& rules) {
  int i = 1;
  for (; argv[i] != nullptr && std::strcmp(argv[i], "--") != 0; i += 2) {
    bool writable = std::strcmp(argv[i], "-w") == 0;
    if ((!writable && std::strcmp(argv[i], "-h") != 0) || argv[i + 1] == nullptr ||
        argv[i + 1][0] != '/')
      return false;
    (writable ? rules.writable : rules.hidden).push_back(argv[i + 1]);
  }
  if (argv[i] == nullptr || argv[i + 1] == nullptr)
    return false;
  rules.program = argv + i + 1;
  return true;
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int, char* argv[]) {
  Rules rules;
  if (!Parse(argv, rules)) {
    std::fprintf(stderr,
                 "usage: mount-sandbox [-w FOLDER]... [-h FOLDER]... -- PROGRAM [ARGUMENT]...\n"
                 "(every FOLDER an absolute path)\n");
    return kNotSandboxed;
  }
  if (!Apply(rules))
    return kNotSandboxed;
  execvp(rules.program[0], rules.program);
  Fail("cannot run", rules.program[0]);
  return kNotSandboxed;
}
