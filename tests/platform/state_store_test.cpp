// SPDX-License-Identifier: MIT
// The state folder on disk: whole files written atomically for their owner,
// and whatever else is found there (planted by another program or user)
// refused or read as it is, and never followed, replaced or removed.
#include "platform/state_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/failure_of.h"
#include "support/file_snapshot.h"
#include "support/scratch_dir.h"

namespace brivelton {
namespace {

namespace fs = std::filesystem;
using testing::FileSnapshot;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class FileStateStoreTest : public ::testing::Test {
 protected:
  testing::ScratchDir scratch{"brivelton-state"};
  const fs::path root = scratch.path();
};

// What Read gave: none when the file is missing or refused.
std::optional<std::string> ContentOf(const Result<std::optional<std::string>>& read) {
  return read ? *read : std::nullopt;
}

void Plant(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string Content(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Everything in `dir`, temporary files included.
std::vector<std::string> FolderNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names;
}

TEST_F(FileStateStoreTest, WritesWholeFilesForTheOwnerOnly) {
  FileStateStore store((root / "deep" / "brivelton").string());
  ASSERT_EQ(FailureOf(store.Write("identity-a", "first\n")), "");
  ASSERT_EQ(FailureOf(store.Write("identity-a", "second\n")), "");
  EXPECT_EQ(ContentOf(store.Read("identity-a")), "second\n");
  EXPECT_EQ(store.List(), std::vector<std::string>{"identity-a"});

  struct stat st {};
  ASSERT_EQ(stat(store.PathOf("identity-a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(store.directory().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);

  EXPECT_EQ(FailureOf(store.Remove("identity-a")), "");
  EXPECT_EQ(FailureOf(store.Remove("identity-a")), "");
  // Missing is not refused.
  const auto missing = store.Read("identity-a");
  EXPECT_EQ(FailureOf(missing), "");
  EXPECT_EQ(ContentOf(missing), std::nullopt);
  EXPECT_TRUE(store.List().empty());
  // No temporary file was left behind either.
  EXPECT_TRUE(fs::is_empty(store.directory()));
}

TEST_F(FileStateStoreTest, AFailedWriteSaysWhy) {
  // A file where the directory should be: fails for root as for anyone.
  std::ofstream(root / "blocker") << "x";
  FileStateStore store((root / "blocker" / "brivelton").string());
  const std::string error = FailureOf(store.Write("identity-a", "new\n"));
  EXPECT_THAT(error, HasSubstr("Not a directory"));
  EXPECT_THAT(error, HasSubstr(store.directory()));

  // A folder where the file should be: the write stops before making a
  // file to rename, and nothing is left behind.
  FileStateStore beside(root.string());
  fs::create_directories(root / "identity-b" / "full");
  EXPECT_EQ(FailureOf(beside.Write("identity-b", "new\n")),
            beside.PathOf("identity-b") + " is not a regular file; left as it is");
  EXPECT_THAT(FolderNames(root), UnorderedElementsAre("blocker", "identity-b"));
  EXPECT_TRUE(fs::exists(root / "identity-b" / "full"));

  FileStateStore nowhere("");
  EXPECT_THAT(FailureOf(nowhere.Write("identity-a", "x")), HasSubstr("no state directory"));
  EXPECT_EQ(ContentOf(nowhere.Read("identity-a")), std::nullopt);
  EXPECT_TRUE(nowhere.List().empty());
}

// The state folder itself something else than a folder: the error says so.
TEST_F(FileStateStoreTest, AStateFolderThatIsNoFolderIsNamedForWhatItIs) {
  Plant(root / "file", "x");
  fs::create_symlink(root / "file", root / "link-to-file");
  fs::create_symlink("/dev/null", root / "link-to-device");
  fs::create_symlink(root / "nowhere", root / "dangling");
  const struct {
    const char* name;
    const char* why;
  } cases[] = {{"file", " is a file, not a folder"},
               {"link-to-file", " is a link to a file, not a folder"},
               {"link-to-device", " is a link to a device, not a folder"},
               {"dangling", " is a link to nothing, not a folder"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileStateStore store((root / c.name).string());
    EXPECT_EQ(FailureOf(store.Write("identity-a", "new\n")), store.directory() + c.why);
  }
  EXPECT_EQ(Content(root / "file"), "x");
}

// A run killed between creating a file's replacement and renaming it leaves
// the replacement; the next run removes it, and only what has exactly its
// form, is a regular file and is older than a minute.
TEST_F(FileStateStoreTest, LeftoverReplacementsAreRemovedAndNothingElse) {
  const std::string own = "identity-001BDC0F217E.0123456789abcdef.tmp";
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  const struct {
    std::string name;
    bool is_old;
    bool removed;
  } cases[] = {
      {own, true, true},
      {"identity-001BDC0F217E.fedcba9876543210.tmp", false, false},  // may be another run's
      {"identity-001BDC0F217E.0123456789ABCDEF.tmp", true, false},   // not our digits
      {"identity-001BDC0F217E.0123456789abcde.tmp", true, false},    // one digit short
      {"notes.tmp", true, false},
      {".0123456789abcdef.tmp", true, false},
      {"identity-001BDC0F217E", true, false},
  };
  for (const auto& c : cases) {
    Plant(root / c.name, "x");
    if (c.is_old) fs::last_write_time(root / c.name, old);
  }
  // A link and a folder of the same form stay too.
  const std::string link = "identity-11.0000000000000001.tmp";
  const std::string folder = "identity-22.0000000000000002.tmp";
  fs::create_symlink(root / "notes.tmp", root / link);
  fs::create_directory(root / folder);
  fs::last_write_time(root / folder, old);

  FileStateStore store(root.string());
  store.RemoveStaleTemporaries();
  for (const auto& c : cases) EXPECT_EQ(fs::exists(root / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_symlink(root / link));
  EXPECT_TRUE(fs::is_directory(root / folder));
}

// Each kind of file found in the state folder under a name the store might
// use: read as it is, or refused with the reason, and either way left exactly
// as it was: never followed, replaced or removed, and never a hang.
TEST_F(FileStateStoreTest, PlantedFilesAreReadAsTheyAreOrRefusedAndLeftInPlace) {
  const fs::path dir = root / "brivelton";
  const fs::path outside = root / "outside";
  fs::create_directories(dir);
  fs::create_directories(outside);
  const std::string entry = "port=/dev/ttyUSB0\naddress=A1:A2:A3:A4:A5:A6\nname=\nsaved=t\n";
  const std::string too_large = "larger than 4096 bytes";
  const std::string not_regular = "not a regular file";
  const std::string link = "a symbolic link, not followed";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> plant;
    std::optional<std::string> read;  // what Read gives; none: refused
    std::string reason;               // why it is refused
  };
  const Case cases[] = {
      // Sparse: three gigabytes that take no room, but would take memory.
      {"identity-huge", [](const fs::path& p) { Plant(p, ""); fs::resize_file(p, 3ull << 30); },
       std::nullopt, too_large},
      {"identity-4097", [](const fs::path& p) { Plant(p, std::string(4097, 'x')); },
       std::nullopt, too_large},
      {"identity-4096", [](const fs::path& p) { Plant(p, std::string(4096, 'x')); },
       std::string(4096, 'x'), ""},
      // Opened for reading without a writer, a FIFO would wait forever.
      {"identity-fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       std::nullopt, not_regular},
      {"identity-dir", [](const fs::path& p) { fs::create_directory(p); }, std::nullopt,
       not_regular},
      {"identity-link",
       [&](const fs::path& p) {
         Plant(outside / "entry", entry);
         fs::create_symlink(outside / "entry", p);
       },
       std::nullopt, link},
      {"identity-dangling",
       [&](const fs::path& p) { fs::create_symlink(outside / "nothing", p); }, std::nullopt,
       link},
      {"identity-link-to-fifo",
       [&](const fs::path& p) {
         ASSERT_EQ(mkfifo((outside / "fifo").c_str(), 0600), 0);
         fs::create_symlink(outside / "fifo", p);
       },
       std::nullopt, link},
      // Small regular files are the journal's to judge, byte for byte.
      {"identity-control",
       [](const fs::path& p) {
         Plant(p, "port=/dev/tty\x1b[2J\rUSB0\naddress=A1:A2:A3:A4:A5:A6\n");
       },
       "port=/dev/tty\x1b[2J\rUSB0\naddress=A1:A2:A3:A4:A5:A6\n", ""},
      {"identity-binary",
       [](const fs::path& p) { Plant(p, std::string("port=\0\xff\r\n\x7f", 10)); },
       std::string("port=\0\xff\r\n\x7f", 10), ""},
      {"identity-hard-link",
       [&](const fs::path& p) {
         Plant(outside / "hard", entry);
         fs::create_hard_link(outside / "hard", p);
       },
       entry, ""},
  };
  FileStateStore store(dir.string());
  for (const auto& c : cases) c.plant(dir / c.name);
  std::vector<std::string> before;
  for (const auto& c : cases) before.push_back(FileSnapshot(dir / c.name));
  const std::string outside_before =
      FileSnapshot(outside / "entry") + FileSnapshot(outside / "hard");

  std::vector<std::string> names;
  for (const auto& c : cases) names.push_back(c.name);
  EXPECT_THAT(store.List(), ::testing::UnorderedElementsAreArray(names));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const auto read = store.Read(c.name);
    EXPECT_EQ(ContentOf(read), c.read);
    EXPECT_EQ(FailureOf(read), c.reason);
    if (!c.read) {
      // What is refused is neither replaced nor removed.
      EXPECT_EQ(FailureOf(store.Write(c.name, entry)),
                store.PathOf(c.name) + " is " + c.reason + "; left as it is");
      EXPECT_EQ(FailureOf(store.Remove(c.name)), c.reason);
    }
    EXPECT_EQ(FileSnapshot(dir / c.name), before[i]);
  }
  EXPECT_EQ(FileSnapshot(outside / "entry") + FileSnapshot(outside / "hard"),
            outside_before);

  // A hard link at an entry's name is replaced as a name: the file it shares
  // with another directory keeps its bytes.
  ASSERT_EQ(FailureOf(store.Write("identity-hard-link", "new\n")), "");
  EXPECT_EQ(Content(outside / "hard"), entry);
  EXPECT_EQ(Content(dir / "identity-hard-link"), "new\n");
}

// The temporary file is made exclusively under a fresh name: a link planted
// where an earlier version put it (the entry's name and ".tmp") is not
// written through, and no temporary file stays behind.
TEST_F(FileStateStoreTest, ALinkPlantedAtTheTemporaryNameIsNotWrittenThrough) {
  const fs::path dir = root / "brivelton";
  fs::create_directories(dir);
  Plant(root / "victim", "precious\n");
  fs::create_hard_link(root / "victim", dir / "identity-a.tmp");
  fs::create_symlink(root / "victim", dir / "identity-b.tmp");
  const std::string victim = FileSnapshot(root / "victim");

  FileStateStore store(dir.string());
  for (const char* name : {"identity-a", "identity-b", "identity-a"})
    ASSERT_EQ(FailureOf(store.Write(name, std::string(name) + "\n")), "");
  EXPECT_EQ(FileSnapshot(root / "victim"), victim);
  EXPECT_EQ(Content(root / "victim"), "precious\n");
  EXPECT_EQ(fs::read_symlink(dir / "identity-b.tmp"), root / "victim");
  EXPECT_EQ(ContentOf(store.Read("identity-a")), "identity-a\n");
  EXPECT_EQ(fs::hard_link_count(dir / "identity-a"), 1u);
  EXPECT_THAT(FolderNames(dir), UnorderedElementsAre("identity-a", "identity-b", "identity-a.tmp",
                                         "identity-b.tmp"));
}

// The folder is found from the environment; a relative path in it would put
// the files wherever the program happened to be started.
TEST(DefaultStateDirectory, TakesOnlyAbsolutePaths) {
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved;
  for (const char* name : {"XDG_STATE_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
  }
  struct Case {
    const char* state;  // nullptr: unset
    const char* home;
    std::string dir;
  };
  const Case cases[] = {
      {"/x/state", "/home/u", "/x/state/brivelton"},
      {"", "/home/u", "/home/u/.local/state/brivelton"},
      {"x/state", "/home/u", "/home/u/.local/state/brivelton"},
      {nullptr, "/home/u", "/home/u/.local/state/brivelton"},
      {"/x/state", "home/u", "/x/state/brivelton"},
      {nullptr, "home/u", ""},
      {"x/state", ".", ""},
      {nullptr, "", ""},
      {nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.state ? c.state : "(unset)") + " " + (c.home ? c.home : "(unset)"));
    for (const auto& [name, value] : {std::pair{"XDG_STATE_HOME", c.state}, {"HOME", c.home}}) {
      if (value) setenv(name, value, 1);
      else unsetenv(name);
    }
    EXPECT_EQ(DefaultStateDirectory(), c.dir);
  }
  for (const auto& s : saved) {
    if (s.value) setenv(s.name, s.value->c_str(), 1);
    else unsetenv(s.name);
  }
}

}  // namespace
}  // namespace brivelton
