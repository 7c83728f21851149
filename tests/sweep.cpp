#include "sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>

namespace corvandel::testing {
namespace {

// How a run ends when a call fails: the first row naming what the call does, to which file, and
// how the program takes the error ("": any); then its status, what it prints between the banner
// and the prompt, and what it reports ($: the file, @: the live list, %: the error), or the cause
// in its fatal report. Files: a "list" (live, or the update file), the "unread-update" (before
// the run reads it), a "list-in-swap" (a live list whose new list is complete), a "new" list, a
// "backup", the "lists" and "backups" folders, the "lock", "console" and "keyboard".
const std::array<std::string, 6> kEndings[] = {
    {"", "", "retried", "0"},
    // The lock, the answer to the prompt, the list folder's listing and flushes: passed over.
    {"", "lock keyboard lists", "", "0"},
    {"look read close", "backups", "", "0"},  // then made; or not flushed
    {"write flush close", "new", "", "101", "", "writing $"},
    {"create", "new", "name-taken", "0"},  // the next number
    {"create", "new", "", "101", "", "creating $"},
    {"close remove attributes", "", "", "0"},
    {"write", "console", "stream-closed", "0"},  // what it prints is lost
    {"write", "console", "", "101", "", "failed printing to stdout"},
    {"look", "unread-update", "", "1", "Update words file, $" + kNotFound},
    {"look", "list", "", "1", "$ is missing (or not a regular file)\n"},
    {"read", "list", "", "101", "", "reading $"},
    {"look read flush", "list-in-swap backup backups", "", "1", "Error renaming file: %\n"},
    {"make-folder", "", "", "1", "", "Failed to create directory: %\n"},
    {"link aside", "", "no-hard-links name-taken", "0"},  // by two moves; a new stamp
    {"into-place", "", "name-taken", "101", "", "replacing @"},
    {"link into-place aside back", "", "", "1", "Error renaming file: %\n"},
};

// Which file a path names, as the table calls them.
std::string file_of(const std::string& path) {
  if (path == "DicLists" || path == "DicLists/" || path == "DicLists/*") return "lists";
  if (path == "DicLists/BU_Previous_Files") return "backups";
  if (path.starts_with("DicLists/BU_Previous_Files/")) return "backup";
  if (like(path, "DicLists/*.txt.new-#*")) return "new";
  if (path == "DicLists/corvandel.lock") return "lock";
  return path.starts_with("DicLists/") && path.ends_with(".txt") ? "list" : path;
}

// The status, output and error (the cause, for a fatal report) of a run that `row` tells of.
RunResult expected(const std::array<std::string, 6>& row, const Call& call, const Fault& fault,
                   const ListFolder& folder) {
  const std::string lists = "DicLists/",
                    path = call.path.starts_with(lists)
                               ? folder.list_path(call.path.substr(lists.size()))
                               : folder.base_text() + call.path;
  const std::string live = path.substr(0, path.rfind(".new-"));
  // Another program's save is what a move that finds the live name taken reports.
  const std::string error = row[5] == "replacing @" ? changed_meanwhile_error().text : fault.text;
  const auto fill = [&](std::string text) {
    for (std::size_t at = 0; (at = text.find_first_of("$@%", at)) != std::string::npos;) {
      const std::string& value = text[at] == '$' ? path : text[at] == '@' ? live : error;
      text.replace(at, 1, value), at += value.size();
    }
    return text;
  };
  std::string all = kBanner + kWritten + kPrompt;
  const std::size_t printed = call.path == "console" ? all.find(call.detail) : kBanner.size();
  if (row[3] == "1") return {1, kBanner + fill(row[4]) + kPrompt, fill(row[5])};
  if (row[3] == "101") return {101, all.substr(0, printed), fill(row[5]) + ": " + error};
  return {0, fault.treatment == "stream-closed" ? all.erase(printed, call.detail.size()) : all, ""};
}

}  // namespace

bool among(const std::string& word, const std::string& words) {
  return words.empty() || (" " + words + " ").find(" " + word + " ") != std::string::npos;
}

Lists sweep_lists(bool large) {
  Lists lists = kLists;
  for (int i = 0; large && i < (CORVANDEL_SANITIZED ? 10000 : 50000); ++i) {
    lists.master +=
        "\nm" + std::to_string(i * 7 % 50000) + (i % 5 ? "" : "\xC3\xA9") + std::string(24, 'w');
    lists.update += (i % 3 ? " u" : "\r\nU") + std::to_string(i);
  }
  return lists;
}

void sweep(const std::vector<Call>& calls, const std::string& names, bool kill, const Lists& before,
           int killed_status, const SweptRun& run) {
  int swept = 0, replaced = 0;           // calls swept, lists put in place so far
  std::set<std::string> read, complete;  // files read, new lists complete so far
  for (const Call& call : calls) {
    // A rename by what it moves; the file as the run finds it then (see the table).
    std::string effect = call.effect, file = file_of(call.path);
    if (effect == "rename")
      effect = file == "new" ? "into-place" : file == "backup" ? "back" : "aside";
    if (effect == "look" && call.path.ends_with("/update_words.txt") && !read.count(call.path))
      file = "unread-update";
    for (const std::string& done : complete)
      if (file == "list" && done.starts_with(call.path + ".new-")) file = "list-in-swap";
    const int replaced_before = replaced;
    if (effect == "read") read.insert(call.path);
    if (effect == "close" && file == "new") complete.insert(call.path);
    if (effect == "into-place" || effect == "remove") complete.erase(call.path);
    replaced += effect == "into-place";
    if (!among(call.name, names)) continue;
    if (kill && among(effect, "look read close lock")) continue;  // these change nothing
    ++swept;
    for (const Fault& fault : kill ? std::vector<Fault>(1) : call.faults) {
      SCOPED_TRACE(call.name + " #" + std::to_string(call.occurrence) + " (" + effect + " " + file +
                   ") " + (kill ? "killed" : fault.text));
      const auto row = std::find_if(std::begin(kEndings), std::end(kEndings), [&](const auto& r) {
        return among(effect, r[0]) && among(file, r[1]) && among(fault.treatment, r[2]);
      });
      ASSERT_TRUE(kill || row != std::end(kEndings)) << "no ending for this call";
      ListFolder folder;
      folder.write(before);
      const RunResult r = run(folder, call, kill ? nullptr : &fault);
      const auto [reduced, master] = folder.check_promise(before, kill);
      const RunResult outcome =
          kill ? RunResult{killed_status, r.out, r.err} : expected(*row, call, fault, folder);
      EXPECT_EQ(r.status, outcome.status);
      EXPECT_EQ(r.out, outcome.out);
      EXPECT_TRUE(r.status == 101 ? r.err.find(": " + outcome.err + " [kind: ") != std::string::npos
                                  : r.err == outcome.err)
          << r.err;
      EXPECT_TRUE(kill || reduced + master == (outcome.status == 0 ? 2 : replaced_before));
      for (const std::string& stray : folder.strays())
        EXPECT_TRUE(kill && stray.ends_with(".txt.new-1")) << stray << " left behind";
      // The next run (every backup name free a day ahead) completes the update and removes what
      // a killed run left unfinished; or, where a kill between the moves without hard links
      // left a list in its backup alone, reports it missing.
      TestPlatform next;
      next.clock_offset = 86400;
      next.environment["QUILLMERE_DIR"] = folder.base_text();
      const bool absent =
          !fs::exists(folder.lists() / "reduced.txt") || !fs::exists(folder.lists() / "master.txt");
      EXPECT_EQ(run_in_process(next, folder.root()).status, absent ? 1 : 0);
      EXPECT_TRUE(absent || folder.read().master ==
                                model_list({before.master, before.reduced, before.update}));
      EXPECT_TRUE(folder.strays().empty()) << "an unfinished list stays after the next run";
    }
  }
  EXPECT_GE(swept, 4);
}

// A name is on disk once its folder is flushed: the new backup folder before anything is linked
// into it, the new list before it is linked or moved, the backup name before the new list takes
// the live name, that before the pass ends.
void expect_replacement_order(const std::vector<Call>& calls, const std::string& after_folder,
                              const std::string& before_link, const std::string& moved,
                              const std::string& freeing) {
  std::string steps, order = "make-folder DicLists/BU_Previous_Files\n" + after_folder;
  for (const Call& c : calls) {
    if (among(c.effect, "make-folder flush link rename attributes") ||
        (c.effect == "look" && !freeing.empty() && c.detail == freeing))
      steps += c.effect + " " + c.path + (c.detail.empty() ? "" : " " + c.detail) + "\n";
  }
  for (const std::string list : {"DicLists/reduced.txt", "DicLists/master.txt"}) {
    std::string own = before_link;
    for (std::size_t at; (at = own.find('$')) != std::string::npos;) own.replace(at, 1, list);
    order += "flush " + list + ".new-1\n" + own + "link " + list +
             "\nflush DicLists/BU_Previous_Files\nrename " + list + ".new-1" + moved +
             "\nflush DicLists\n";
  }
  EXPECT_EQ(steps, order);
}

}  // namespace corvandel::testing
