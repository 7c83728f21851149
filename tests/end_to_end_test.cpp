// Whole runs of the built program in temporary directories: exact console bytes, exit statuses,
// list contents and backups.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "run_program.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kPrompt = "\nPress Enter to exit...\n";
const std::string kBanner = "corvandel:\n";

class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() : lists_(base() / "DicLists"), backups_(lists_ / "BU_Previous_Files") {
    fs::create_directories(lists_);
  }

  fs::path base() const { return temp_.path(); }
  // The base directory as the variable holds it, ending in a separator.
  std::string base_text() const { return base().string() + "/"; }
  std::string list_path(const std::string& name) const { return base_text() + "DicLists/" + name; }

  void write_lists(const std::string& master, const std::string& reduced,
                   const std::string& update) {
    write_file(lists_ / "master.txt", master);
    write_file(lists_ / "reduced.txt", reduced);
    write_file(lists_ / "update_words.txt", update);
  }

  RunResult run(RunOptions options = {}) {
    if (!options.environment.count("QUILLMERE_DIR")) {
      options.environment["QUILLMERE_DIR"] = base_text();
    }
    if (options.working_dir.empty()) options.working_dir = base();
    return run_program(CORVANDEL_BINARY, options);
  }

  // Backup file names of one kind, sorted, each checked against the stamped pattern.
  std::vector<std::string> backups(const std::string& kind) const {
    std::vector<std::string> names;
    if (!fs::exists(backups_)) return names;
    const std::regex pattern(kind + "_[0-9]{6}_[0-9]{6}\\.txt");
    for (const auto& entry : fs::directory_iterator(backups_)) {
      std::string name = entry.path().filename().string();
      if (name.rfind(kind + "_", 0) == 0) {
        EXPECT_TRUE(std::regex_match(name, pattern)) << name;
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string backup(const std::string& kind, std::size_t index = 0) const {
    std::vector<std::string> names = backups(kind);
    return index < names.size() ? read_file(backups_ / names[index]) : "<no backup>";
  }

  // Everything in DicLists apart from the three lists and the backup folder.
  std::vector<std::string> strays() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(lists_)) {
      std::string name = entry.path().filename().string();
      if (name != "master.txt" && name != "reduced.txt" && name != "update_words.txt" &&
          name != "BU_Previous_Files") {
        names.push_back(name);
      }
    }
    return names;
  }

  void expect_lists(const std::string& master, const std::string& reduced) const {
    EXPECT_EQ(read_file(lists_ / "master.txt"), master);
    EXPECT_EQ(read_file(lists_ / "reduced.txt"), reduced);
  }

  TempDir temp_;
  fs::path lists_;
  fs::path backups_;
};

TEST_F(EndToEnd, WholeRunMergesBothListsAndKeepsBackups) {
  write_lists("DOG", "APPLE\r\nCAT\r\n", "zebra Apple");
  RunOptions r_options;
  r_options.arguments = {"ignored", "--help"};
  RunResult r = run(r_options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "Update successful.\n" + kPrompt);
  EXPECT_EQ(r.err, "");
  expect_lists("APPLE\nCAT\nDOG\nZEBRA", "APPLE\nCAT\nZEBRA");
  EXPECT_EQ(read_file(lists_ / "update_words.txt"), "zebra Apple");
  ASSERT_EQ(backups("reduced").size(), 1u);
  ASSERT_EQ(backups("master").size(), 1u);
  EXPECT_EQ(backup("reduced"), "APPLE\r\nCAT\r\n");
  EXPECT_EQ(backup("master"), "DOG");
  EXPECT_THAT(strays(), ::testing::IsEmpty());
}

TEST_F(EndToEnd, WordListFormatAcrossBothPasses) {
  // Mixed case, CR LF, Unicode spaces, one-to-many mappings, a byte-order mark and Unicode order.
  write_lists("", "apple Banana\r\ncherry\r\n",
              "banana\n\nDate  apple\xE3\x80\x80stra\xC3\x9F" "e STRASSE \xC3\xA9" "cole\n"
              "\xEF\xBB\xBF\n\xEF\xBB\xBFword\xE2\x80\x8Bjoined");
  RunResult r = run();
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string expected =
      "APPLE\nBANANA\nCHERRY\nDATE\nSTRASSE\n\xC3\x89" "COLE\n\xEF\xBB\xBF\n"
      "\xEF\xBB\xBFWORD\xE2\x80\x8BJOINED";
  expect_lists(expected, expected);
}

TEST_F(EndToEnd, UpdateFileMissingOrEmpty) {
  write_file(lists_ / "master.txt", "DOG");
  write_file(lists_ / "reduced.txt", "CAT");
  RunResult missing = run();
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, kBanner + "Update words file, " + list_path("update_words.txt") +
                             ", was not found.\nCreate a non-empty file, with this name, containing "
                             "new text strings to add to the dictionary lists.\n" + kPrompt);
  EXPECT_TRUE(fs::is_directory(backups_)) << "the backup folder is made before the check";

  write_file(lists_ / "update_words.txt", "");
  RunResult empty = run();
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, kBanner + "Update words file, " + list_path("update_words.txt") +
                           ", is empty.\nEnsure a file, with this name, contains new text strings "
                           "to add to the dictionary lists.\n" + kPrompt);
  EXPECT_EQ(empty.err, "");
  expect_lists("DOG", "CAT");
  EXPECT_TRUE(backups("reduced").empty());
}

TEST_F(EndToEnd, WhitespaceOnlyUpdateChangesNothing) {
  write_lists("DOG", "CAT", " \r\n\t\xC2\xA0\xE2\x80\xA8\n");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner + "No text found in " + list_path("update_words.txt") +
                       " file. Exiting...\n" + kPrompt);
  expect_lists("DOG", "CAT");
  EXPECT_TRUE(backups("reduced").empty());
  EXPECT_THAT(strays(), ::testing::IsEmpty());
}

TEST_F(EndToEnd, InvalidUtf8IsFatalAndChangesNothing) {
  const std::string bad[] = {"caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"};
  for (const std::string& text : bad) {
    for (const char* file : {"update_words.txt", "reduced.txt", "master.txt"}) {
      write_lists("DOG", "CAT", "zebra");
      write_file(lists_ / file, text);
      RunResult r = run();
      EXPECT_EQ(r.status, 101) << file;
      EXPECT_THAT(r.err, HasSubstr("stream did not contain valid UTF-8")) << file;
      EXPECT_THAT(r.err, HasSubstr(".cpp:")) << "the report names its source position";
      EXPECT_EQ(r.out, kBanner);
      if (std::string(file) == "master.txt") {
        // The reduced pass completed before the master list was read.
        EXPECT_EQ(read_file(lists_ / "reduced.txt"), "CAT\nZEBRA");
        EXPECT_EQ(read_file(lists_ / "master.txt"), text);
      } else {
        EXPECT_EQ(read_file(lists_ / "reduced.txt"), file == std::string("reduced.txt") ? text : "CAT");
        EXPECT_EQ(read_file(lists_ / "master.txt"), "DOG");
      }
      fs::remove_all(backups_);
    }
  }
}

TEST_F(EndToEnd, MissingMasterAfterReducedPass) {
  write_file(lists_ / "reduced.txt", "CAT");
  write_file(lists_ / "update_words.txt", "ant");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            kBanner + list_path("master.txt") + " is missing (or not a regular file)\n" + kPrompt);
  EXPECT_EQ(read_file(lists_ / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(backup("reduced"), "CAT");
}

TEST_F(EndToEnd, ListsThatAreNotRegularFiles) {
  write_file(lists_ / "master.txt", "DOG");
  fs::create_directory(lists_ / "reduced.txt");
  write_file(lists_ / "update_words.txt", "ant");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            kBanner + list_path("reduced.txt") + " is missing (or not a regular file)\n" + kPrompt);

  // A directory in place of the update file passes the existence check but cannot be read.
  fs::remove(lists_ / "reduced.txt");
  write_file(lists_ / "reduced.txt", "CAT");
  fs::remove(lists_ / "update_words.txt");
  fs::create_directory(lists_ / "update_words.txt");
  RunResult dir = run();
  EXPECT_EQ(dir.status, 101);
  EXPECT_EQ(dir.out, kBanner);
  EXPECT_THAT(dir.err, HasSubstr("Is a directory (os error 21)"));
  expect_lists("DOG", "CAT");
}

TEST_F(EndToEnd, BackupFolderBlockedByAFile) {
  write_lists("DOG", "CAT", "ant");
  write_file(backups_, "not a folder");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner + kPrompt);
  EXPECT_EQ(r.err, "Failed to create directory: File exists (os error 17)\n");
  expect_lists("DOG", "CAT");
}

TEST_F(EndToEnd, BaseDirectoryFromTheVariable) {
  // Unset: the fallback text becomes part of every path, relative to the working directory.
  RunOptions unset;
  unset.environment["QUILLMERE_DIR"] = "\xFF invalid UTF-8 counts as unset";
  RunResult r = run(unset);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner +
                       "Update words file, Environment variable not foundDicLists/"
                       "update_words.txt, was not found.\nCreate a non-empty file, with this name, "
                       "containing new text strings to add to the dictionary lists.\n" + kPrompt);
  EXPECT_TRUE(fs::is_directory(base() / "Environment variable not foundDicLists/BU_Previous_Files"));

  // Empty or whitespace only: paths are relative, starting with DicLists.
  write_lists("DOG", "CAT", "ant");
  for (const char* value : {"", " \t\r\n"}) {
    RunOptions empty;
    empty.environment["QUILLMERE_DIR"] = value;
    RunResult e = run(empty);
    EXPECT_EQ(e.status, 0) << e.out;
  }
  EXPECT_EQ(read_file(lists_ / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(backups("reduced").size(), 2u) << "every run keeps the list it replaced";

  // Whitespace of every kind is trimmed from both ends; no separator is added.
  RunOptions spaced;
  spaced.environment["QUILLMERE_DIR"] =
      "\xE3\x80\x80 \t\n" + base().string() + "/in ner\xC2\x85\xE2\x80\xAF\v\f";
  RunResult s = run(spaced);
  EXPECT_EQ(s.status, 1);
  EXPECT_THAT(s.out, HasSubstr("Update words file, " + base().string() +
                               "/in nerDicLists/update_words.txt, was not found."));
  EXPECT_TRUE(fs::is_directory(base() / "in nerDicLists" / "BU_Previous_Files"));
}

TEST_F(EndToEnd, BaseDirectoryNamedLikeAList) {
  // A base directory whose name holds "reduced" or "master" does not confuse the two lists.
  TempDir outer;
  fs::path base_dir = outer.path() / "reduced master";
  fs::create_directories(base_dir / "DicLists");
  write_file(base_dir / "DicLists/master.txt", "DOG");
  write_file(base_dir / "DicLists/reduced.txt", "CAT");
  write_file(base_dir / "DicLists/update_words.txt", "ant");
  RunOptions options;
  options.environment["QUILLMERE_DIR"] = base_dir.string() + "/";
  RunResult r = run(options);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_file(base_dir / "DicLists/master.txt"), "ANT\nCAT\nDOG");
  EXPECT_EQ(read_file(base_dir / "DicLists/reduced.txt"), "ANT\nCAT");
  int reduced = 0, master = 0;
  for (const auto& entry : fs::directory_iterator(base_dir / "DicLists/BU_Previous_Files")) {
    std::string name = entry.path().filename().string();
    if (name.rfind("reduced_", 0) == 0) {
      EXPECT_EQ(read_file(entry.path()), "CAT");
      ++reduced;
    }
    if (name.rfind("master_", 0) == 0) {
      EXPECT_EQ(read_file(entry.path()), "DOG");
      ++master;
    }
  }
  EXPECT_EQ(reduced, 1);
  EXPECT_EQ(master, 1);
}

TEST_F(EndToEnd, RunsInOneSecondKeepEveryBackup) {
  write_lists("DOG", "CAT", "ant");
  RunResult first = run();
  write_file(lists_ / "update_words.txt", "bee");
  RunResult second = run();
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0) << second.out;
  ASSERT_EQ(backups("reduced").size(), 2u);
  ASSERT_EQ(backups("master").size(), 2u);
  EXPECT_EQ(backup("reduced", 0), "CAT");
  EXPECT_EQ(backup("reduced", 1), "ANT\nCAT");
  EXPECT_EQ(backup("master", 0), "DOG");
  EXPECT_EQ(backup("master", 1), "ANT\nCAT\nDOG");
  expect_lists("ANT\nBEE\nCAT\nDOG", "ANT\nBEE\nCAT");
}

TEST_F(EndToEnd, FailedWriteLeavesTheListsAsTheyWere) {
  // The limit lets the console output through but not the new list.
  std::string many_words;
  for (int i = 0; i < 1000; ++i) many_words += "word" + std::to_string(i) + " ";
  write_lists("DOG", "CAT", many_words);
  RunOptions r_options;
  r_options.file_size_limit = 4096;
  RunResult r = run(r_options);
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_THAT(r.err, HasSubstr("File too large (os error 27)"));
  expect_lists("DOG", "CAT");
  EXPECT_TRUE(backups("reduced").empty());
  EXPECT_THAT(strays(), ::testing::IsEmpty()) << "the temporary file is removed";
}

TEST_F(EndToEnd, LeftoverTemporaryFilesAreLeftAlone) {
  write_lists("DOG", "CAT", "ant");
  write_file(lists_ / "reduced.txt.new-1", "half written");
  RunResult r = run();
  EXPECT_EQ(r.status, 0) << r.err;
  expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");
  EXPECT_EQ(read_file(lists_ / "reduced.txt.new-1"), "half written");
  EXPECT_THAT(strays(), ::testing::ElementsAre("reduced.txt.new-1"));
}

TEST_F(EndToEnd, ConsoleStreams) {
  write_lists("DOG", "CAT", "ant");
  // A closed standard output swallows the messages; the run itself succeeds.
  RunOptions closed_options;
  closed_options.close_stdout = true;
  RunResult closed = run(closed_options);
  EXPECT_EQ(closed.status, 0) << closed.err;
  EXPECT_EQ(closed.err, "");

  // Output into a pipe that nobody reads is a fatal failure, not a silent death by SIGPIPE.
  RunOptions broken_options;
  broken_options.stdout_to_closed_pipe = true;
  RunResult broken = run(broken_options);
  EXPECT_EQ(broken.status, 101);
  EXPECT_THAT(broken.err, HasSubstr("failed printing to stdout: Broken pipe (os error 32)"));

  // Only the first line of standard input is consumed; end of input counts as Enter.
  RunOptions eof_options;
  eof_options.standard_input = "";
  RunResult eof = run(eof_options);
  EXPECT_EQ(eof.status, 0);
}

}  // namespace
}  // namespace corvandel::testing
