// SPDX-License-Identifier: MIT
#include "platform/state_store.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>

#include "platform/state_files.h"

namespace brivelton {

namespace {
// A name that is taken is tried again under another; a few times is plenty.
constexpr int kTempAttempts = 8;
}  // namespace

Result<void> FileStateStore::Write(const std::string& name, const std::string& content) {
  if (auto folder = MakeFolder(); !folder) return folder;
  if (const std::string refused = Refusal(name); !refused.empty())
    return Error(PathOf(name) + " is " + refused + "; left as it is");
  return Replace(name, content);
}

Result<void> FileStateStore::Remove(const std::string& name) {
  if (dir_.empty()) return {};
  std::string why = Refusal(name);
  if (why.empty()) why = Delete(name);
  if (!why.empty()) return Error(why);
  return {};
}

void FileStateStore::RemoveStaleTemporaries() {
  if (dir_.empty()) return;
  for (const auto& name : OldRegularFiles(state_files::kStaleTempSeconds))
    if (state_files::IsOwnTemp(name)) Delete(name);
}

}  // namespace brivelton

namespace brivelton::state_files {

std::string TooLarge() {
  return "larger than " + std::to_string(FileStateStore::kMaxFileBytes) + " bytes";
}

std::string TempName(const std::string& name) {
  // Random per process, counted within it.
  static const uint64_t seed = [] {
    std::random_device random;
    return uint64_t{random()} << 32 | random();
  }();
  static std::atomic<uint64_t> count{0};
  char tail[32];
  std::snprintf(tail, sizeof tail, ".%016llx%s",
                static_cast<unsigned long long>(seed + 0x9E3779B97F4A7C15u * ++count),
                kTempSuffix.data());
  return name + tail;
}

void CreateUnderFreshName(const std::string& name,
                          const std::function<bool(const std::string& fresh)>& try_create) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt)
    if (!try_create(TempName(name))) return;
}

bool IsOwnTemp(const std::string& name) {
  constexpr size_t kDigits = 16, kSuffix = kTempSuffix.size();
  if (!IsTemporaryName(name) || name.size() < 1 + 1 + kDigits + kSuffix) return false;
  const size_t dot = name.size() - kSuffix - kDigits - 1;
  if (name[dot] != '.') return false;
  for (size_t i = dot + 1; i < dot + 1 + kDigits; ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
  return true;
}

}  // namespace brivelton::state_files
