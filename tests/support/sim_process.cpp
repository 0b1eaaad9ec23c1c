// SPDX-License-Identifier: MIT
#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace brivelton::testing {

std::string SimProgram() { return BRIVELTON_SIM_PATH; }

pid_t SpawnPiped(const std::vector<std::string>& args, int& out_fd, int& err_fd,
                 bool group_leader, const char* stdout_path) {
  out_fd = err_fd = -1;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_path)
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path, O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (group_leader) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    return -1;
  }
  out_fd = out[0];
  err_fd = err[0];
  if (stdout_path) {
    close(out_fd);
    out_fd = -1;
  }
  return pid;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

SimProcess::SimProcess(const std::vector<std::string>& args, bool group_leader) {
  std::vector<std::string> argv = {SimProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = SpawnPiped(argv, out_, err_, group_leader);
}

SimProcess::~SimProcess() {
  if (pid_ > 0) Stop();
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

std::string SimProcess::Line(int timeout_ms) {
  std::string line;
  char c = 0;
  while (out_ >= 0) {
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return "";
    if (read(out_, &c, 1) != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

int SimProcess::Stop() { return Reap(SIGTERM); }

int SimProcess::Wait() { return Reap(0); }

int SimProcess::Reap(int signal) {
  if (pid_ <= 0) return status_;
  if (signal) kill(pid_, signal);
  status_ = WaitStatus(pid_);
  pid_ = -1;
  // A child of its own that outlives it keeps the pipe open: a bounded read.
  char buffer[256];
  for (;;) {
    pollfd pfd{err_, POLLIN, 0};
    if (err_ < 0 || poll(&pfd, 1, 5000) <= 0) break;
    const ssize_t n = read(err_, buffer, sizeof buffer);
    if (n <= 0) break;
    errors_.append(buffer, static_cast<size_t>(n));
  }
  // A sanitizer's report, or why it gave up, belongs in the test's output.
  if (status_ != 0) std::fputs(errors_.c_str(), stderr);
  return status_;
}

bool SimProcess::OutputClosed(int timeout_ms) {
  char buffer[256];
  for (;;) {
    pollfd pfd{out_, POLLIN, 0};
    if (out_ < 0 || poll(&pfd, 1, timeout_ms) <= 0) return false;
    if (read(out_, buffer, sizeof buffer) <= 0) return true;
  }
}

}  // namespace brivelton::testing
