#include "sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace corvandel::testing {
namespace {

// How a run that failed a step ends: status, output, error (or the cause in a fatal report)
// and the number of lists replaced.
struct Outcome {
  int status;
  std::string out, err;
  int replaced;
};

// A path of a step as the program's messages show it.
std::string shown(const std::string& path, const ListFolder& folder) {
  const std::string lists = "DicLists/";
  return path.starts_with(lists) ? folder.list_path(path.substr(lists.size()))
                                 : folder.base_text() + path;
}

Outcome expected(const Step& step, const Fault& fault, const ListFolder& folder) {
  const std::string path = shown(step.path, folder), &act = step.act, &text = fault.text;
  const Treatment treated = fault.treatment;
  const Outcome success{0, kBanner + kWritten + kPrompt, "", 2};
  const auto fatal = [&](const std::string& cause, const std::string& out = kBanner) {
    return Outcome{101, out, cause + ": " + text, step.replaced_before};
  };
  const auto reported = [&](const std::string& out, const std::string& err = "") {
    return Outcome{1, kBanner + out + kPrompt, err, step.replaced_before};
  };
  // Without hard links, the live name taken while the old list is moved aside: left as it is.
  if (treated == Treatment::name_taken && act == "put_in_place") {
    const std::string live = path.substr(0, path.rfind(".new-"));
    return {101, kBanner, "replacing " + live + ": " + changed_meanwhile_error().text,
            step.replaced_before};
  }
  // Tried again, passed over, the next temporary name or stamp, or moved aside by a rename.
  if (treated == Treatment::retried || act == "ignored" ||
      (act == "set_aside" &&
       (treated == Treatment::no_hard_links || treated == Treatment::name_taken)) ||
      (act == "create" && treated == Treatment::name_taken) ||
      (act == "look" && step.path == "DicLists/BU_Previous_Files")) {
    return success;
  }
  if (act == "console") {  // a closed console swallows what is written to it
    std::string printed[] = {kBanner, kWritten, kPrompt};
    if (treated == Treatment::stream_closed)
      return printed[step.nth - 1] = "", Outcome{0, printed[0] + printed[1] + printed[2], "", 2};
    return fatal("failed printing to stdout",
                 step.nth > 1 ? printed[0] + (step.nth > 2 ? printed[1] : "") : "");
  }
  if (act == "make_directory") return reported("", "Failed to create directory: " + text + "\n");
  if (act == "look" && !step.read_before) {
    return reported("Update words file, " + path + kNotFound);
  }
  if (act == "look") return reported(path + " is missing (or not a regular file)\n");
  if (act == "set_aside" || act == "put_in_place" || act == "replace") {
    return reported("Error renaming file: " + text + "\n");
  }
  return fatal((act == "open" ? "reading " : act == "create" ? "creating " : "writing ") + path);
}

}  // namespace

void number_steps(std::vector<Step>& steps) {
  std::map<std::string, int> acts;
  int replaced = 0;
  for (Step& step : steps) {
    step.nth = ++acts[step.act];
    step.replaced_before = replaced;
    step.read_before = acts["open"] - (step.act == "open") > 0;
    replaced += step.act == "put_in_place";
  }
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

void sweep(const std::vector<Step>& steps, const std::set<std::string>& names, bool kill,
           const Lists& before, int killed_status, const SweptRun& run) {
  std::map<std::string, std::pair<int, int>> counts;  // calls of a name, and those swept
  for (const Step& step : steps) {
    ++counts[step.name].first;
    if (!names.empty() && !names.count(step.name)) continue;
    if (kill && !step.changes_disk) continue;
    ++counts[step.name].second;
    const std::vector<Fault> faults =
        kill ? std::vector<Fault>{{0, Treatment::fails, ""}} : step.faults;
    for (const Fault& fault : faults) {
      SCOPED_TRACE(step.name + " #" + std::to_string(step.occurrence) + " (" + step.act + " " +
                   step.path + ") " + (kill ? "killed" : fault.text));
      ListFolder folder;
      folder.write(before);
      const RunResult r = run(folder, step, kill ? nullptr : &fault);
      const auto [reduced, master] = folder.check_promise(before, kill);
      if (kill) {
        EXPECT_EQ(r.status, killed_status);
      } else {
        const Outcome outcome = expected(step, fault, folder);
        EXPECT_EQ(r.status, outcome.status);
        EXPECT_EQ(r.out, outcome.out);
        EXPECT_TRUE(r.status == 101
                        ? r.err.find(": " + outcome.err + " [kind: ") != std::string::npos
                        : r.err == outcome.err)
            << r.err;
        EXPECT_EQ(reduced + master, outcome.replaced);
      }
      for (const std::string& stray : folder.strays()) {
        EXPECT_TRUE(kill && stray.ends_with(".txt.new-1")) << stray << " left behind";
      }
      // The next run (every backup name free a day ahead) completes the update and removes what
      // a killed run left unfinished; or, where a kill between the moves without hard links
      // left a list in its backup alone, reports it missing.
      TestPlatform next;
      next.clock_offset = 86400;
      next.environment["QUILLMERE_DIR"] = folder.base_text();
      const bool absent =
          !fs::exists(folder.lists() / "reduced.txt") || !fs::exists(folder.lists() / "master.txt");
      EXPECT_EQ(run_in_process(next, folder.root()).status, absent ? 1 : 0);
      const std::string all = model_list({before.master, before.reduced, before.update});
      EXPECT_TRUE(absent || folder.read().master == all);
      EXPECT_TRUE(folder.strays().empty()) << "an unfinished list stays after the next run";
    }
  }
  std::string summary = kill ? "killed inside" : "failed";
  int swept = 0;
  for (const auto& [name, count] : counts) {
    summary += " " + name + " " + std::to_string(count.second) + "/" + std::to_string(count.first);
    swept += count.second;
  }
  std::printf("%s\n", summary.c_str());
  EXPECT_GE(swept, 4);
}

}  // namespace corvandel::testing
