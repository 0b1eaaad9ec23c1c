// SPDX-License-Identifier: MIT
// The state files on a POSIX system. What the directory holds is not trusted:
// another program, or another user where the directory is shared, may have
// put anything there under any name.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/state_files.h"
#include "platform/state_store.h"

namespace brivelton {

namespace {
using namespace state_files;

constexpr const char kNoDirectory[] =
    "no state directory: neither XDG_STATE_HOME nor HOME is set to an absolute path";

bool MakeDirectories(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i != dir.size() && dir[i] != '/') continue;
    const std::string part = dir.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Makes the rename itself durable.
void SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Why what stands at `dir` is no folder to keep files in; empty when it is.
std::string NoFolder(const std::string& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return {};
  const bool link = S_ISLNK(st.st_mode);
  if (link && stat(dir.c_str(), &st) != 0) return "is a link to nothing, not a folder";
  if (S_ISDIR(st.st_mode)) return {};
  const char* what = S_ISREG(st.st_mode)                         ? "a file"
                     : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                   : "no folder";
  return std::string(link ? "is a link to " : "is ") + what + ", not a folder";
}

std::string Unreadable(int error) { return std::string("unreadable: ") + std::strerror(error); }

// Why a file of this kind is refused; empty for a small regular file.
std::string RefusalOf(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return kLink;
  if (!S_ISREG(st.st_mode)) return kNotRegular;
  if (st.st_size > static_cast<off_t>(FileStateStore::kMaxFileBytes)) return TooLarge();
  return {};
}
}  // namespace

std::string FileStateStore::PathOf(const std::string& name) const { return dir_ + "/" + name; }

std::string FileStateStore::Refusal(const std::string& name) const {
  struct stat st {};
  if (lstat(PathOf(name).c_str(), &st) != 0) return {};
  return RefusalOf(st);
}

bool FileStateStore::MakeFolder(std::string& error) const {
  if (dir_.empty()) error = kNoDirectory;
  else if (!MakeDirectories(dir_)) error = "can't create " + dir_ + ": " + std::strerror(errno);
  else if (const std::string why = NoFolder(dir_); !why.empty()) error = dir_ + " " + why;
  else return true;
  return false;
}

std::vector<std::string> FileStateStore::OldRegularFiles(int seconds) const {
  std::vector<std::string> names;
  DIR* dir = opendir(dir_.c_str());
  if (!dir) return names;
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    struct stat st {};
    if (lstat(PathOf(entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        now - st.st_mtime > seconds)
      names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

bool FileStateStore::Replace(const std::string& name, const std::string& content,
                             std::string& error) {
  const std::string path = PathOf(name);
  // Exclusively, under a name nobody has used: what is already there, a link
  // planted where the file would go included, stays untouched.
  std::string temp;
  int fd = -1;
  CreateUnderFreshName(name, [&](const std::string& fresh) {
    temp = PathOf(fresh);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd < 0 && errno == EEXIST;
  });
  if (fd < 0) {
    error = "can't create " + temp + ": " + std::strerror(errno);
    return false;
  }
  // Whatever the umask, the owner reads it and nobody else does.
  bool ok = fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok) ok = fsync(fd) == 0;
  const int saved = errno;
  if (close(fd) != 0 && ok) ok = false;
  if (!ok) {
    error = "can't write " + temp + ": " + std::strerror(saved ? saved : errno);
    unlink(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    error = "can't rename " + temp + " to " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  SyncDirectory(dir_);
  return true;
}

std::optional<std::string> FileStateStore::Read(const std::string& name, std::string& refused) {
  refused.clear();
  if (dir_.empty()) return std::nullopt;
  // Not opened at all when it is plainly no file of ours: opening a device
  // may do something.
  refused = Refusal(name);
  if (!refused.empty()) return std::nullopt;
  // Without O_NONBLOCK a FIFO put there since would hold the open forever.
  const int fd =
      open(PathOf(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ELOOP) refused = kLink;
    else if (errno != ENOENT) refused = Unreadable(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) refused = Unreadable(errno);
  else refused = RefusalOf(st);
  std::string content;
  // One byte more than allowed tells a file that grew since.
  char buffer[kMaxFileBytes + 1];
  while (refused.empty()) {
    const ssize_t n = read(fd, buffer, sizeof buffer - content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refused = Unreadable(errno);
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kMaxFileBytes) refused = TooLarge();
  }
  close(fd);
  if (!refused.empty()) return std::nullopt;
  return content;
}

std::string FileStateStore::Delete(const std::string& name) {
  if (unlink(PathOf(name).c_str()) != 0 && errno != ENOENT) return std::strerror(errno);
  SyncDirectory(dir_);
  return {};
}

std::vector<std::string> FileStateStore::List() {
  std::vector<std::string> names;
  DIR* dir = dir_.empty() ? nullptr : opendir(dir_.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsTemporaryName(name)) continue;
    names.push_back(name);
  }
  closedir(dir);
  return names;
}

std::string DefaultStateDirectory() {
  // A relative value is invalid by the base directory rules and is ignored;
  // a relative HOME would put the files wherever the tool was started.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/brivelton";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/.local/state/brivelton";
}

}  // namespace brivelton
