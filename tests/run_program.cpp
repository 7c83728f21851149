#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace corvandel::testing {
namespace fs = std::filesystem;

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed");
}

std::vector<std::string> child_environment(const RunOptions& options) {
  std::vector<std::string> env;
  for (const char* kept : {"PATH", "HOME", "TZ", "WINEPREFIX", "WINEDEBUG"}) {
    if (const char* value = std::getenv(kept)) env.push_back(std::string(kept) + "=" + value);
  }
  for (const auto& [name, value] : options.environment) env.push_back(name + "=" + value);
  return env;
}

}  // namespace

RunResult run_program(const fs::path& program, const RunOptions& options) {
  TempDir io;
  const fs::path in = io.path() / "stdin", out = io.path() / "stdout", err = io.path() / "stderr";
  write_file(in, options.standard_input);

  std::vector<std::string> args{program.string()};
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> env = child_environment(options);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipe_fds[2] = {-1, -1};
  if (options.stdout_to_closed_pipe) check(::pipe(pipe_fds) == 0, "pipe");

  pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    int in_fd = ::open(in.c_str(), O_RDONLY);
    int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
    ::dup2(in_fd, 0);
    ::dup2(err_fd, 2);
    if (options.close_stdout) {
      ::close(1);
    } else if (options.stdout_to_closed_pipe) {
      ::dup2(pipe_fds[1], 1);
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
    } else {
      ::dup2(out_fd, 1);
    }
    if (options.file_size_limit) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(*options.file_size_limit),
                   static_cast<rlim_t>(*options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.address_space_limit) {
      rlimit limit{static_cast<rlim_t>(*options.address_space_limit),
                   static_cast<rlim_t>(*options.address_space_limit)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (!options.working_dir.empty() && ::chdir(options.working_dir.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (options.stdout_to_closed_pipe) {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
  }
  int wait_status = 0;
  bool reaped = false;
  if (options.kill_after_milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(*options.kill_after_milliseconds);
    for (;;) {
      pid_t waited = ::waitpid(pid, &wait_status, WNOHANG);
      check(waited >= 0, "waitpid");
      reaped = waited == pid;
      if (reaped || std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!reaped) ::kill(pid, SIGKILL);
  }
  if (!reaped) check(::waitpid(pid, &wait_status, 0) == pid, "waitpid");
  RunResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.out = read_file(out);
  result.err = read_file(err);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "corvandel-test-XXXXXX").string();
  check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  check(static_cast<bool>(out), "writing a test file");
}

}  // namespace corvandel::testing
