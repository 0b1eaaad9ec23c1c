// SPDX-License-Identifier: MIT
#pragma once
// State files held in memory, for tests: optionally refusing every write, the
// way a full disk or a read-only home directory would, or every removal.
#include <map>

#include "platform/state_store.h"

namespace brivelton {

class MemoryStateStore : public StateStore {
 public:
  Result<void> Write(const std::string& name, const std::string& content) override {
    if (refuse_writes) return Error("No space left on device");
    files[name] = content;
    return {};
  }
  Result<std::optional<std::string>> Read(const std::string& name) override {
    const auto it = files.find(name);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  Result<void> Remove(const std::string& name) override {
    if (refuse_removal && files.count(name)) return Error("Permission denied");
    files.erase(name);
    return {};
  }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    for (const auto& [name, content] : files) names.push_back(name);
    return names;
  }
  std::string PathOf(const std::string& name) const override { return "/state/" + name; }

  std::map<std::string, std::string> files;
  bool refuse_writes = false;
  bool refuse_removal = false;  // as a file another user owns would be
};

}  // namespace brivelton
