// SPDX-License-Identifier: MIT
#pragma once
// What a file is, taken without opening anything but a small regular file:
// its kind, inode, links and size, where a link points, a small file's bytes.
// Two equal snapshots: nothing was replaced, written, followed or removed.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace brivelton::testing {

inline std::string FileSnapshot(const std::filesystem::path& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return "gone";
  std::string shot = std::to_string(st.st_mode) + " " + std::to_string(st.st_ino) + " " +
                     std::to_string(st.st_nlink) + " " + std::to_string(st.st_size);
  if (S_ISLNK(st.st_mode)) shot += " -> " + std::filesystem::read_symlink(path).string();
  if (S_ISREG(st.st_mode) && st.st_size <= 65536) {
    std::ifstream file(path, std::ios::binary);
    shot += " " + std::string(std::istreambuf_iterator<char>(file), {});
  }
  return shot;
}

}  // namespace brivelton::testing
