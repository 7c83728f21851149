// The merge pass's own rules: the list kind from the file name, a backup never overwritten, and
// other programs at work on a list meanwhile.
#include <gtest/gtest.h>

#include <fstream>

#include "run/unique_words_merger.h"
#include "test_support.h"

namespace corvandel::testing {
namespace {

// The list kind comes from the file name alone: a pass backs up the live list of that kind, and
// refuses a list that names neither. A second pass within the same second waits for the next
// stamp; with the clock standing still, it gives up and overwrites nothing.
TEST(MergePass, TheListKindAndTheBackupNeverOverwritten) {
  const std::string cases[][2] = {
      {"reduced.txt", "reduced"},        {"master.txt", "master"},
      {"reduced/master.txt", "master"},  {"C:\\reduced\\DicLists\\master.txt", "master"},
      {"master_reduced.txt", "reduced"}, {"C:\\lists\\words.txt", ""}};
  for (const auto& [current, kind] : cases) {
    ListFolder folder;
    fs::create_directories(folder.lists() / "reduced");
    fs::create_directories(folder.backup_dir());
    folder.write({"DOG", "CAT", "ant"});
    write_file(folder.lists() / current, "CAT");
    TestPlatform platform;
    const std::string dir = folder.lists().string() + "/";
    const auto merge = [&] { merge_word_list(dir + current, dir + "update_words.txt", dir); };
    const auto pass = [&] { return run_in_process(platform, folder.root(), merge).out; };
    EXPECT_EQ(pass(),
              kind.empty() ? "Error: current_file is not reduced or master\n" + kPrompt : "");
    EXPECT_EQ(folder.backups(kind).size(), kind.empty() ? 0 : 1) << current;
    if (kind.empty()) continue;
    EXPECT_TRUE(in_written_form(read_file(folder.lists() / (kind + ".txt"))));
    EXPECT_EQ(pass(), "");
    const std::vector<fs::path> kept = folder.backups(kind);
    ASSERT_EQ(kept.size(), 2u);
    const std::string newest = read_file(kept[1]);
    platform.fixed_stamp = kept[1].filename().string().substr(kind.size() + 1, 13);
    EXPECT_EQ(pass(), "Error renaming file: File exists (os error 17)\n" + kPrompt);
    EXPECT_GT(platform.sleeps, 0) << "it waited for the clock before giving up";
    EXPECT_TRUE(folder.backups(kind) == kept && read_file(kept[1]) == newest);
  }
}

// Another program at work on the master list during a run: rewriting it in place with its size and
// time kept as the run begins to read it, or while it reads its update list; saving it as an editor
// does just before the swap. The pass fails and leaves that list. Alone, a run keeps its mode.
TEST(MergePass, AnotherProgramAtWork) {
  const auto in_place = [](const fs::path& list) {
    const auto time = fs::last_write_time(list);
    std::fstream(list, std::ios::in | std::ios::out | std::ios::binary) << "BNT";
    fs::last_write_time(list, time);
  };
  const auto saved = [](const fs::path& list) {
    write_file(list.string() + ".tmp", "SAVED"), fs::rename(list.string() + ".tmp", list);
  };
  const std::tuple<std::string, std::string, int, std::function<void(const fs::path&)>> rows[] = {
      {"ANT\nBEE", "create_new_file */master.txt.new-1", 1, in_place},
      {"bee\nant", "open_file */reduced.txt", 2, in_place},
      {"ANT\nBEE", "wait_until_replaceable */master.txt", 1, saved},
      {"ANT\nBEE", "", 0, nullptr}};
  for (const auto& [master, step, nth, act] : rows) {
    SCOPED_TRACE(step);
    ListFolder folder;
    folder.write({master, "CAT", "dog"});
    const fs::path list = folder.lists() / "master.txt";
    if (!act) fs::permissions(list, fs::perms::owner_read | fs::perms::group_read);
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    int seen = 0;
    std::string left = model_list({master, "CAT", "dog"});
    platform.before_step = [&](const std::string& now) {
      if (act && like(now, step) && ++seen == nth) act(list), left = read_file(list);
    };
    EXPECT_EQ(run_in_process(platform, folder.root()).status, act ? 101 : 0);
    EXPECT_EQ(read_file(list), left);
    EXPECT_TRUE(folder.strays().empty() && folder.backups("master").size() == (act ? 0 : 1));
    EXPECT_TRUE(act || fs::status(list).permissions() == fs::perms(0440));
  }
}

}  // namespace
}  // namespace corvandel::testing
