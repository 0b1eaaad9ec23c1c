#pragma once
// The few small files the utility keeps on the PC, in the user's state
// directory. Each file is replaced whole and atomically, so a run killed at
// any moment leaves either the old content or the new, never half of one.
#include <optional>
#include <string>
#include <vector>

namespace brivelton {

class StateStore {
 public:
  virtual ~StateStore() = default;
  // Replaces (or creates) file `name`, readable by its owner only. False with
  // a reason in `error` when it could not be written durably.
  virtual bool Write(const std::string& name, const std::string& content,
                     std::string& error) = 0;
  virtual std::optional<std::string> Read(const std::string& name) = 0;
  // True when the file is gone afterwards (also when it never existed).
  virtual bool Remove(const std::string& name) = 0;
  // The names of the files held, in no particular order.
  virtual std::vector<std::string> List() = 0;
  // Where `name` lives, as a user would look for it.
  virtual std::string PathOf(const std::string& name) const = 0;
};

// Files in one directory of the file system, created on first write.
class FileStateStore : public StateStore {
 public:
  explicit FileStateStore(std::string directory) : dir_(std::move(directory)) {}
  bool Write(const std::string& name, const std::string& content,
             std::string& error) override;
  std::optional<std::string> Read(const std::string& name) override;
  bool Remove(const std::string& name) override;
  std::vector<std::string> List() override;
  std::string PathOf(const std::string& name) const override;
  const std::string& directory() const { return dir_; }

 private:
  std::string dir_;
};

// $XDG_STATE_HOME/brivelton (default ~/.local/state/brivelton), or
// %LOCALAPPDATA%\Brivelton on Windows; empty when neither can be found.
std::string DefaultStateDirectory();

}  // namespace brivelton
