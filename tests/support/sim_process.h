// SPDX-License-Identifier: MIT
#pragma once
// Programs run as child processes: brivelton-sim on its pseudo-terminal, and
// the built tool against it.
#include <sys/types.h>

#include <string>
#include <vector>

namespace brivelton::testing {

// The built brivelton-sim.
std::string SimProgram();

// Starts args[0] with `args` and stdin from /dev/null; its stdout and stderr
// come back as the read ends of two pipes. -1 when it could not be started.
// A group leader is started as a shell starts a command. With `stdout_path`
// its stdout is that file, opened for writing, and `out_fd` is -1.
pid_t SpawnPiped(const std::vector<std::string>& args, int& out_fd, int& err_fd,
                 bool group_leader = false, const char* stdout_path = nullptr);

// Waits for `pid`: its exit status, or 128 + the signal that ended it.
int WaitStatus(pid_t pid);

// brivelton-sim for the life of one test.
class SimProcess {
 public:
  // `args` without the program name. Returns at once; Line() tells when the
  // terminal is there. A group leader cannot make a session of its own and
  // serves from a child.
  explicit SimProcess(const std::vector<std::string>& args, bool group_leader = false);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The next line it prints, "" when none comes within `timeout_ms`: the
  // terminal's path, once it (and the link, if asked for) is ready to open.
  std::string Line(int timeout_ms = 5000);
  // SIGTERM; the simulator writes its dumps on the way out. Its status.
  int Stop();
  // Its status, once it ends by itself.
  int Wait();
  // All it wrote on stderr, once stopped; shown in the test's output too
  // when it ended with a status other than 0. Keep it short: nobody reads
  // it while the simulator runs.
  const std::string& Errors() const { return errors_; }
  // Whether everything that holds its stdout has gone within `timeout_ms`.
  bool OutputClosed(int timeout_ms);
  // -1 once it has ended.
  pid_t pid() const { return pid_; }

 private:
  int Reap(int signal);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int status_ = -1;
  std::string errors_;
};

}  // namespace brivelton::testing
