// A platform that passes every operation to the native one; tests derive from it and replace the
// operations they want to control. Installed for the lifetime of the object.
#pragma once

#include <cstdlib>

#include "platform.h"

namespace corvandel::testing {

class ForwardingPlatform : public Platform {
 public:
  ForwardingPlatform() { install_platform(this); }
  ~ForwardingPlatform() override { install_platform(nullptr); }
  ForwardingPlatform(const ForwardingPlatform&) = delete;
  ForwardingPlatform& operator=(const ForwardingPlatform&) = delete;

  Result<void> write_stdout(std::string_view text) override { return native().write_stdout(text); }
  Result<void> write_stderr(std::string_view text) override { return native().write_stderr(text); }
  Result<void> flush_stdout() override { return native().flush_stdout(); }
  Result<void> read_stdin_line() override { return native().read_stdin_line(); }
  std::optional<std::string> environment_variable(const char* name) override {
    return native().environment_variable(name);
  }
  Result<FileType> file_type(const std::string& path) override { return native().file_type(path); }
  Result<void> make_directory(const std::string& path) override {
    return native().make_directory(path);
  }
  Result<FileData> read_file(const std::string& path) override { return native().read_file(path); }
  Result<std::unique_ptr<OutputFile>> create_new_file(const std::string& path) override {
    return native().create_new_file(path);
  }
  Result<void> remove_file(const std::string& path) override { return native().remove_file(path); }
  Result<void> replace_keeping_backup(const std::string& replacement, const std::string& live,
                                      const std::string& backup) override {
    return native().replace_keeping_backup(replacement, live, backup);
  }
  Result<std::string> local_time_stamp() override { return native().local_time_stamp(); }
  void sleep_milliseconds(int milliseconds) override { native().sleep_milliseconds(milliseconds); }
  [[noreturn]] void exit_process(int status) override {
    native().exit_process(status);
    std::abort();
  }
  std::string_view list_dir_separator() const override {
    return native_platform().list_dir_separator();
  }

 protected:
  static Platform& native() { return native_platform(); }
};

}  // namespace corvandel::testing
