// Runs a built program as a child process for the end-to-end tests, capturing its output.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvandel::testing {

struct RunOptions {
  std::filesystem::path working_dir;
  // Variables set in the child's otherwise minimal environment (PATH, HOME, TZ are kept).
  std::map<std::string, std::string> environment;
  std::string standard_input = "\n";
  std::vector<std::string> arguments;
  // Limits the size of files that the child may write (RLIMIT_FSIZE), with SIGXFSZ ignored so
  // that the write fails instead of killing the child.
  std::optional<long> file_size_limit;
  // Runs the child with standard output closed, or connected to a pipe nobody reads.
  bool close_stdout = false;
  bool stdout_to_closed_pipe = false;

  // Limits the child's address space (RLIMIT_AS), in bytes.
  std::optional<long> address_space_limit;
  // Kills the child with SIGKILL when it still runs this many milliseconds after its start.
  std::optional<long> kill_after_milliseconds;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

/// Runs `program` and waits for it.
RunResult run_program(const std::filesystem::path& program, const RunOptions& options);

/// A fresh directory under the system's temporary directory, removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);

}  // namespace corvandel::testing
