#include "spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

#include "measure.h"

extern char** environ;

namespace {

// Closes what it holds when it goes out of scope.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0)
      close(fd);
    fd = -1;
  }
};

pid_t Spawn(const Command& command, int in, int out, int errOut) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errOut, STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& arg : command)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

ProcessRun RunPipeline(const std::vector<Command>& commands, const std::string& stdoutFile) {
  ProcessRun run;
  Fd devNull(open("/dev/null", O_RDWR | O_CLOEXEC));
  Fd last;
  Fd capture;
  if (stdoutFile.empty()) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
      return run;
    capture.fd = ends[0];
    last.fd = ends[1];
  } else {
    last.fd = open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  if (devNull.fd < 0 || last.fd < 0)
    return run;

  std::vector<pid_t> pids;
  bool started = true;
  const int64_t start = NowNs();
  Fd input(dup(devNull.fd));
  for (size_t i = 0; i < commands.size() && started; ++i) {
    Fd readEnd;
    Fd writeEnd;
    int out = last.fd;
    if (i + 1 < commands.size()) {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) != 0) {
        started = false;
        break;
      }
      readEnd.fd = ends[0];
      writeEnd.fd = ends[1];
      out = writeEnd.fd;
    }
    const pid_t pid = Spawn(commands[i], input.fd, out, devNull.fd);
    started = pid > 0;
    if (started)
      pids.push_back(pid);
    input.Close();
    input.fd = std::exchange(readEnd.fd, -1);
  }
  input.Close();
  last.Close();
  if (capture.fd >= 0) {
    char chunk[4096];
    ssize_t got;
    while ((got = read(capture.fd, chunk, sizeof chunk)) > 0) {
      run.output.append(chunk, static_cast<size_t>(got));
    }
  }
  bool allOk = started;
  for (const pid_t pid : pids) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
      allOk = false;
      continue;
    }
    run.peakRss += static_cast<uint64_t>(usage.ru_maxrss) * 1024;
    allOk = allOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  run.wallNs = NowNs() - start;
  run.ok = allOk;
  return run;
}
