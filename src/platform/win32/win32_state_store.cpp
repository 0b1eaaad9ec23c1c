// SPDX-License-Identifier: MIT
// The state files on Windows, in the user's own profile folder. What the
// folder holds is still not trusted: no reparse point (symbolic link,
// junction) is followed, and nothing large is read.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "platform/state_files.h"
#include "platform/state_store.h"

namespace brivelton {

namespace {
using namespace state_files;

constexpr const char kNoDirectory[] =
    "no state folder: LOCALAPPDATA is not set to an absolute path";

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

// Why a file with these attributes is refused; empty for a small plain file.
std::string RefusalOf(DWORD attributes, uint64_t size) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kLink;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return kNotRegular;
  if (size > FileStateStore::kMaxFileBytes) return TooLarge();
  return {};
}

bool Absolute(const char* path) {
  const bool drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
                     (path[2] == '\\' || path[2] == '/');
  return drive || (path[0] == '\\' && path[1] == '\\');
}
}  // namespace

std::string FileStateStore::PathOf(const std::string& name) const { return dir_ + "\\" + name; }

std::string FileStateStore::Refusal(const std::string& name) const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(PathOf(name).c_str(), GetFileExInfoStandard, &data)) return {};
  return RefusalOf(data.dwFileAttributes,
                   uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

bool FileStateStore::MakeFolder(std::string& error) const {
  const DWORD attributes = dir_.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(dir_.c_str());
  if (dir_.empty()) error = kNoDirectory;
  else if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    error = dir_ + " is a file, not a folder";
  else if (!MakeDirectories(dir_)) error = "can't create " + dir_ + ": " + LastErrorText();
  else return true;
  return false;
}

std::vector<std::string> FileStateStore::OldRegularFiles(int seconds) const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  auto ticks = [](const FILETIME& t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
  const uint64_t limit = uint64_t(seconds) * 10'000'000;  // in 100 ns
  do {
    const DWORD skip =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (!(found.dwFileAttributes & skip) &&
        ticks(now_time) > ticks(found.ftLastWriteTime) + limit)
      names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool FileStateStore::Replace(const std::string& name, const std::string& content,
                             std::string& error) {
  const std::string path = PathOf(name);
  // CREATE_NEW under a fresh name: nothing already there is truncated. The
  // user's own profile folder already keeps other users out.
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  CreateUnderFreshName(name, [&](const std::string& fresh) {
    temp = PathOf(fresh);
    file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
  });
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

std::optional<std::string> FileStateStore::Read(const std::string& name, std::string& refused) {
  refused.clear();
  if (dir_.empty()) return std::nullopt;
  // The reparse point itself is opened, never what it points to.
  HANDLE file = CreateFileA(PathOf(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD failure = GetLastError();
    if (failure != ERROR_FILE_NOT_FOUND && failure != ERROR_PATH_NOT_FOUND)
      refused = "unreadable: " + LastErrorText();
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK) refused = kNotRegular;
  else if (!GetFileInformationByHandle(file, &info)) refused = "unreadable: " + LastErrorText();
  else refused = RefusalOf(info.dwFileAttributes,
                           uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
  std::string content;
  char buffer[kMaxFileBytes + 1];
  while (refused.empty()) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(sizeof buffer - content.size()), &got,
                  nullptr))
      refused = "unreadable: " + LastErrorText();
    if (got == 0) break;
    content.append(buffer, got);
    if (content.size() > kMaxFileBytes) refused = TooLarge();
  }
  CloseHandle(file);
  if (!refused.empty()) return std::nullopt;
  return content;
}

std::string FileStateStore::Delete(const std::string& name) {
  if (DeleteFileA(PathOf(name).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
      GetLastError() == ERROR_PATH_NOT_FOUND)
    return {};
  return LastErrorText();
}

std::vector<std::string> FileStateStore::List() {
  std::vector<std::string> names;
  if (dir_.empty()) return names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsTemporaryName(name))
      names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string DefaultStateDirectory() {
  // A relative one would put the files wherever the program was started.
  const char* local = std::getenv("LOCALAPPDATA");
  if (!local || !Absolute(local)) return {};
  return std::string(local) + "\\Brivelton";
}

}  // namespace brivelton
