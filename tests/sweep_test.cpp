// Each system call of a whole run where the disk can fail or the machine stop, failed (by strace)
// or killed in turn by the sweep's driver, also without hard links.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <regex>
#include <sstream>
#include <thread>

#include "test_support.h"

namespace corvandel::testing {
namespace {

// A realistic error for each call ("create": an openat that creates), and those the program
// treats on their own: EINTR, EPIPE (with SIGPIPE), a closed output, a name taken, no hard links.
std::vector<Fault> faults_of(const std::string& name) {
  const auto fault = [](int code, const char* treatment = "") {
    return Fault{code, treatment,
                 std::strerror(code) + (" (os error " + std::to_string(code)) + ")"};
  };
  if (name == "write")
    return {fault(EIO), fault(EINTR, "retried"), fault(EPIPE), fault(EBADF, "stream-closed")};
  if (name == "read") return {fault(EIO), fault(EINTR, "retried")};
  if (name == "link") return {fault(EXDEV), fault(EPERM, "no-hard-links")};
  if (name == "create") return {fault(EACCES), fault(EEXIST, "name-taken")};
  if (name == "openat") return {fault(EACCES)};
  if (name == "renameat2") return {fault(EXDEV), fault(EEXIST, "name-taken")};
  return {fault(name == "rename" ? EXDEV : EIO)};
}

// The built program under strace, which writes the traced calls (file descriptors with their
// paths) to `log` and injects `injections` ("link:error=EPERM:when=2") into them.
ProcessOptions traced(const ListFolder& folder, const std::vector<std::string>& injections,
                      const std::string& log = "/dev/null") {
  std::vector<std::string> strace = {"/usr/bin/strace", "-qq", "-y", "-o", log, "-e", "trace="};
  strace.back() += "newfstatat,mkdir,openat,read,write,fsync,close,link,rename,renameat2";
  for (const std::string& injection : injections)
    strace.insert(strace.end(), {"-e", "inject=" + injection});
  return program_in(folder, strace);
}

// The calls of a successful run with `injections`, each with what it does (a status through a
// descriptor: what that was opened for), in the list folder or on the standard streams.
std::vector<Call> calls_of_a_run(bool large, const std::vector<std::string>& injections) {
  const ListFolder folder(sweep_lists(large));
  const std::string log = (folder.root() / "trace").string();
  EXPECT_EQ(run_process(traced(folder, injections, log)).status, 0);
  // name(descriptor<its path>, "a path, or text", ...) = result; signals and the exit are no calls.
  const std::regex a_call(R"-((\w+)\((\w*)(?:<([^>]*)>)?(?:, )?)-"
                          R"-((?:"((?:[^"\\]|\\.)*)")?.*\) += (\d*).*)-");
  std::map<std::string, std::string> opened = {{"AT_FDCWD", "look"}};  // a status by name
  std::map<std::string, int> counts;
  std::vector<Call> calls;
  std::istringstream lines(read_file(log));
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_match(line, m, a_call)) continue;
    const std::string name = m[1], fd = m[2], quoted = m[4];
    std::string path = std::isdigit(fd[0]) ? m[3].str() : quoted;
    path = fd == "0"   ? "keyboard"
           : fd == "1" ? "console"
                       : path.erase(0, folder.base_text().size());
    const auto has = [&](const char* flag) { return line.find(flag) != std::string::npos; };
    Call call{name, ++counts[name], name, path};
    if (name == "mkdir" || name == "fsync") call.effect = name == "mkdir" ? "make-folder" : "flush";
    if (name == "renameat2") call.effect = "rename";
    if (name == "newfstatat") call.effect = opened[fd];
    if (name == "openat") {
      call.effect = has("O_CREAT") ? "create" : has("O_PATH") ? "look" : "read";
      opened[m[5]] = call.effect == "create" ? "write" : call.effect;
    }
    call.faults = faults_of(call.effect == "create" ? "create" : name);
    // The text printed, as strace shows it ("\n" for a line feed).
    for (std::size_t i = 0; fd == "1" && i < quoted.size(); ++i)
      call.detail += quoted[i] != '\\' ? quoted[i] : quoted[++i] == 'n' ? '\n' : quoted[i];
    if (path.starts_with("DicLists") || fd == "0" || fd == "1") calls.push_back(call);
  }
  return calls;
}

// Fails or kills each call of `names` of a run with `base` injections in place.
void sweep_calls(const std::vector<std::string>& base, const std::string& names, bool kill) {
  sweep(calls_of_a_run(kill, base), names, kill, sweep_lists(kill), 128 + SIGKILL,
        [&](const ListFolder& folder, const Call& call, const Fault* fault) {
          std::vector<std::string> injections = base;
          injections.push_back(
              call.name +
              (fault ? ":error=" + std::string(strerrorname_np(fault->code)) : ":signal=SIGKILL") +
              (fault && fault->code == EPIPE ? ":signal=SIGPIPE" : "") +
              ":when=" + std::to_string(call.occurrence));
          return run_process(traced(folder, injections));
        });
}

class SystemCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  }
};

TEST_F(SystemCalls, EachFailed) {
  sweep_calls({}, "newfstatat mkdir openat read write fsync close link rename", false);
}

TEST_F(SystemCalls, EachThatChangesTheDiskKilled) {
  sweep_calls({}, "write fsync link rename", true);
}

TEST_F(SystemCalls, WithoutHardLinksEachFailedOrKilled) {
  // Every link refused: the list is set aside by a rename that refuses an existing backup, and
  // moved back when the new one cannot be put in place.
  sweep_calls({"link:error=EPERM"}, "renameat2 rename fsync", false);
  sweep_calls({"link:error=EPERM"}, "renameat2 rename", true);
}

TEST_F(SystemCalls, TheBackupNameIsOnDiskBeforeTheLiveNameChanges) {
  expect_replacement_order(calls_of_a_run(false, {}), "flush DicLists\n");
}

// On a slow disk: a second run with a new update file waits for the first (and says so), then adds
// its words; an editor's save between the backup link and the rename is kept, the run fails.
TEST_F(SystemCalls, CompanyOnASlowDisk) {
  for (const bool editor : {false, true}) {
    SCOPED_TRACE(editor ? "an editor" : "a second run");
    const ListFolder folder(kLists);
    fs::create_directory(folder.backup_dir());
    RunResult first, second;
    std::thread run([&] { first = run_process(traced(folder, {"fsync:delay_enter=500000"})); });
    // Until the first run has read the update file, or linked the master list as its backup.
    for (int i = 0; i < 20000 && !(editor ? !folder.backups("master").empty()
                                          : fs::exists(folder.lists() / "reduced.txt.new-1"));
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    write_file(folder.lists() / (editor ? "saved" : "update_words.txt"),
               editor ? "SAVED" : "second words");
    if (editor) fs::rename(folder.lists() / "saved", folder.lists() / "master.txt");
    if (!editor) second = run_process(program_in(folder));
    run.join();
    const std::string reduced =
        model_list({kLists.reduced, kLists.update, editor ? "" : "second words"});
    EXPECT_EQ(folder.read().reduced, reduced);
    EXPECT_EQ(first.status, editor ? 101 : 0) << first.err;
    EXPECT_EQ(folder.read().master, editor ? "SAVED" : model_list({kLists.master, reduced}));
    EXPECT_EQ(folder.backups("master").size(), editor ? 0u : 2u);
    EXPECT_EQ(second.status, editor ? -1 : 0);
    EXPECT_EQ(second.out.find("waiting for it to end") != std::string::npos, !editor);
    EXPECT_TRUE(folder.strays().empty());
  }
}

}  // namespace
}  // namespace corvandel::testing
