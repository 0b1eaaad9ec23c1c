#include "platform/state_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brivelton {

namespace {
// Written beside the real file and renamed over it once it is on disk.
constexpr const char kTempSuffix[] = ".tmp";

#ifdef _WIN32
constexpr const char kNoDirectory[] = "no state folder: LOCALAPPDATA is not set";
#else
constexpr const char kNoDirectory[] = "no state directory: neither XDG_STATE_HOME nor HOME is set";
#endif

bool IsTemp(const std::string& name) {
  return name.size() >= sizeof kTempSuffix - 1 &&
         name.compare(name.size() - (sizeof kTempSuffix - 1), std::string::npos, kTempSuffix) == 0;
}
}  // namespace

#ifdef _WIN32

namespace {
std::string LastErrorText() {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 GetLastError(), 0, text, sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s;
}

// Creates every missing folder of `dir`.
bool MakeDirectories(const std::string& dir) {
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i != dir.size() && dir[i] != '\\' && dir[i] != '/') continue;
    const std::string part = dir.substr(0, i);
    if (part.empty() || part.back() == ':') continue;
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return true;
}
}  // namespace

std::string FileStateStore::PathOf(const std::string& name) const { return dir_ + "\\" + name; }

bool FileStateStore::Write(const std::string& name, const std::string& content,
                           std::string& error) {
  if (dir_.empty()) {
    error = kNoDirectory;
    return false;
  }
  if (!MakeDirectories(dir_)) {
    error = "can't create " + dir_ + ": " + LastErrorText();
    return false;
  }
  const std::string path = PathOf(name);
  const std::string temp = path + kTempSuffix;
  // The user's own profile folder already keeps other users out.
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "can't create " + temp + ": " + LastErrorText();
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                            nullptr) &&
                  written == content.size() && FlushFileBuffers(file);
  if (!ok) error = "can't write " + temp + ": " + LastErrorText();
  CloseHandle(file);
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "can't rename " + temp + " to " + path + ": " + LastErrorText();
    DeleteFileA(temp.c_str());
    return false;
  }
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

std::optional<std::string> FileStateStore::Read(const std::string& name) {
  HANDLE file = CreateFileA(PathOf(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  CloseHandle(file);
  return content;
}

bool FileStateStore::Remove(const std::string& name) {
  return DeleteFileA(PathOf(name).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
         GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::vector<std::string> FileStateStore::List() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsTemp(name))
      names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string DefaultStateDirectory() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (!local || !*local) return {};
  return std::string(local) + "\\Brivelton";
}

#else

namespace {
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
}  // namespace

std::string FileStateStore::PathOf(const std::string& name) const { return dir_ + "/" + name; }

bool FileStateStore::Write(const std::string& name, const std::string& content,
                           std::string& error) {
  if (dir_.empty()) {
    error = kNoDirectory;
    return false;
  }
  if (!MakeDirectories(dir_)) {
    error = "can't create " + dir_ + ": " + std::strerror(errno);
    return false;
  }
  const std::string path = PathOf(name);
  const std::string temp = path + kTempSuffix;
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "can't create " + temp + ": " + std::strerror(errno);
    return false;
  }
  // An older file of the same name may have been left with wider rights.
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

std::optional<std::string> FileStateStore::Read(const std::string& name) {
  const int fd = open(PathOf(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

bool FileStateStore::Remove(const std::string& name) {
  if (unlink(PathOf(name).c_str()) != 0 && errno != ENOENT) return false;
  SyncDirectory(dir_);
  return true;
}

std::vector<std::string> FileStateStore::List() {
  std::vector<std::string> names;
  DIR* dir = opendir(dir_.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsTemp(name)) continue;
    names.push_back(name);
  }
  closedir(dir);
  return names;
}

std::string DefaultStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative value is invalid by the base directory rules and is ignored.
  if (state && state[0] == '/') return std::string(state) + "/brivelton";
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.local/state/brivelton";
}

#endif

}  // namespace brivelton
