// SPDX-License-Identifier: MIT
#pragma once
// The few small files the utility keeps on the PC, in the user's state
// directory. Each file is replaced whole and atomically, so a run killed at
// any moment leaves either the old content or the new, never half of one.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace brivelton {

class StateStore {
 public:
  virtual ~StateStore() = default;
  // Replaces (or creates) file `name`, readable by its owner only; an error
  // when it could not be written durably.
  virtual Result<void> Write(const std::string& name, const std::string& content) = 0;
  // The content of file `name`; none when it is not there. What is there but
  // is no small regular file is refused and left as it is: the error says
  // why ("not a regular file").
  virtual Result<std::optional<std::string>> Read(const std::string& name) = 0;
  // Done when the file is gone afterwards (also when it never existed); the
  // error says why not ("Permission denied").
  virtual Result<void> Remove(const std::string& name) = 0;
  // The names of the files held, in no particular order.
  virtual std::vector<std::string> List() = 0;
  // Where `name` lives, as a user would look for it.
  virtual std::string PathOf(const std::string& name) const = 0;
  // Removes what a run killed between creating a file's replacement and
  // renaming it left behind: regular files of exactly the replacements' name
  // form, older than a minute. Nothing else.
  virtual void RemoveStaleTemporaries() {}
};

// Files in one directory of the file system, created on first write. Read
// only when they are regular files of at most kMaxFileBytes, never through a
// link; a file that is not is never replaced or removed either.
class FileStateStore : public StateStore {
 public:
  // Far above any entry the utility writes.
  static constexpr size_t kMaxFileBytes = 4096;

  explicit FileStateStore(std::string directory) : dir_(std::move(directory)) {}
  Result<void> Write(const std::string& name, const std::string& content) override;
  Result<std::optional<std::string>> Read(const std::string& name) override;
  Result<void> Remove(const std::string& name) override;
  std::vector<std::string> List() override;
  std::string PathOf(const std::string& name) const override;
  void RemoveStaleTemporaries() override;
  const std::string& directory() const { return dir_; }

 private:
  // Each system's part. Why what is at `name` is no file of ours, or empty
  // (also when nothing is).
  std::string Refusal(const std::string& name) const;
  // Makes the folder where it is missing.
  Result<void> MakeFolder() const;
  // Writes `content` to a new file and renames it to `name`.
  Result<void> Replace(const std::string& name, const std::string& content);
  // Why the file is still there; empty when it is gone.
  std::string Delete(const std::string& name);
  // The regular files, no links, last written more than `seconds` ago.
  std::vector<std::string> OldRegularFiles(int seconds) const;

  std::string dir_;
};

// The end of the name a store gives a file's replacement while it is written.
inline constexpr std::string_view kTempSuffix = ".tmp";
// Whether `name` has that form: never a file of its own, whatever the store
// (the page's browser store too).
inline bool IsTemporaryName(std::string_view name) { return name.ends_with(kTempSuffix); }

// $XDG_STATE_HOME/brivelton (default ~/.local/state/brivelton), or
// %LOCALAPPDATA%\Brivelton on Windows; empty when none is set to an absolute
// path.
std::string DefaultStateDirectory();

}  // namespace brivelton
