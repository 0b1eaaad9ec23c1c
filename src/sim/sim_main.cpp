// SPDX-License-Identifier: MIT
// brivelton-sim: the simulated adapter on a pseudo-terminal, in real time.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/standard_streams.h"
#include "sim/device_model.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile pid_t g_child = 0;

void OnStop(int) { g_stop = 1; }
void Relay(int signal) {
  if (g_child > 0) kill(g_child, signal == SIGHUP ? SIGTERM : signal);
}

// The terminal must be our controlling one, which takes a new session; a
// process-group leader (started by a shell) cannot make one, so it leaves
// the serving to a child and passes signals on.
int BecomeSessionLeader() {
  if (setsid() >= 0) return -1;
  // A stop sent while we fork waits until the child is known, then is passed
  // on; the child keeps it pending until it has its own handlers.
  sigset_t relayed, before;
  sigemptyset(&relayed);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&relayed, s);
  sigprocmask(SIG_BLOCK, &relayed, &before);
  struct sigaction relay {};
  relay.sa_handler = Relay;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &relay, nullptr);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("brivelton-sim: fork");
    return 1;
  }
  if (child == 0) {
    setsid();
    return -1;
  }
  g_child = child;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::fprintf(stderr, "brivelton-sim: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brivelton::sim;
  // Before the terminal opens, so that it never takes a standard stream's place.
  brivelton::OpenMissingStandardStreams();
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "brivelton-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimUsage(), stdout);
    return 0;
  }
  if (const int parent_exit = BecomeSessionLeader(); parent_exit >= 0) return parent_exit;

  std::signal(SIGPIPE, SIG_IGN);
  // Closing our own terminal on an unplug hangs it up; that is expected.
  std::signal(SIGHUP, SIG_IGN);
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  sigset_t blocked, wait_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
  sigdelset(&wait_mask, SIGINT);
  sigdelset(&wait_mask, SIGTERM);

  ScaleTiming(options.config.timing, options.time_scale);
  DeviceModel model(options.config);
  int status = 0;
  {
    PtyServer server(model, {options.link, options.verbose, options.config.faults.busy,
                              options.wire_scale});
    if (!server.Start(error)) {
      std::fprintf(stderr, "brivelton-sim: %s\n", error.c_str());
      return 1;
    }
    server.Run(g_stop, wait_mask);
    if (!g_stop) status = 1;
  }
  if (!options.dump_flash.empty() &&
      !WriteFile(options.dump_flash, model.flash().data(), model.flash().size()))
    status = 1;
  if (!options.dump_stray.empty()) {
    const std::vector<uint8_t>& stray = model.stray_bytes();
    if (!WriteFile(options.dump_stray, stray.data(), stray.size())) status = 1;
  }
  if (!options.dump_params.empty()) {
    const std::string text = ParamsText(model);
    if (!WriteFile(options.dump_params, text.data(), text.size())) status = 1;
  }
  return status;
}
