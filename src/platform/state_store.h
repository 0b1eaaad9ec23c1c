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

namespace brivelton {

class StateStore {
 public:
  virtual ~StateStore() = default;
  // Replaces (or creates) file `name`, readable by its owner only. False with
  // a reason in `error` when it could not be written durably.
  virtual bool Write(const std::string& name, const std::string& content,
                     std::string& error) = 0;
  // The content of file `name`; none when it is not there or is refused.
  // What is there but is no small regular file is refused and left as it
  // is: `refused` then says why ("not a regular file"), empty otherwise.
  virtual std::optional<std::string> Read(const std::string& name, std::string& refused) = 0;
  // True when the file is gone afterwards (also when it never existed);
  // false with the reason in `why` ("Permission denied").
  virtual bool Remove(const std::string& name, std::string& why) = 0;
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
  bool Write(const std::string& name, const std::string& content,
             std::string& error) override;
  std::optional<std::string> Read(const std::string& name, std::string& refused) override;
  bool Remove(const std::string& name, std::string& why) override;
  std::vector<std::string> List() override;
  std::string PathOf(const std::string& name) const override;
  void RemoveStaleTemporaries() override;
  const std::string& directory() const { return dir_; }

 private:
  // Each system's part. Why what is at `name` is no file of ours, or empty
  // (also when nothing is).
  std::string Refusal(const std::string& name) const;
  // Makes the folder where it is missing; false with the reason.
  bool MakeFolder(std::string& error) const;
  // Writes `content` to a new file and renames it to `name`.
  bool Replace(const std::string& name, const std::string& content, std::string& error);
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
