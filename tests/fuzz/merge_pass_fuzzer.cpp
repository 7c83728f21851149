// Whole merge passes on files against the model: the input holds the sizes that paths turn on
// (four bytes), then the current list and the update list, split at the first 0xFF byte. The pass
// must write the model's list and keep the old one as its one backup, or, for a list that is not
// UTF-8 or an update without words, fail with nothing changed and nothing left behind.
#include <cstdlib>

#include "test_support.h"
#include "run/unique_words_merger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvandel::testing;
  if (size < 4) return 0;
  const corvandel::Tunables sizes{1 + 2 * std::size_t{data[0]}, 1 + std::size_t{data[1]},
                                  1 + 3 * std::size_t{data[2]}, 1 + std::size_t{data[3]} % 32,
                                  data[3] >= 128};
  const std::string_view input(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::string current(input.substr(0, input.find('\xFF')));
  const std::string update(input.substr(std::min(current.size() + 1, input.size())));
  static const ListFolder folder(false, true);
  fs::remove_all(folder.backup_dir());
  fs::create_directory(folder.backup_dir());
  write_file(folder.lists() / "reduced.txt", current);
  write_file(folder.lists() / "update_words.txt", update);
  TestPlatform platform;
  const std::string dir = folder.list_path("");
  const RunResult r = run_in_process(platform, folder.root(), [&] {
    corvandel::merge_word_list(dir + "reduced.txt", dir + "update_words.txt", dir, sizes);
  });
  const auto words = model_words(update);
  // A current list that is not UTF-8 is reported before an update list without words.
  const int status = !words || !model_words(current) ? 101 : words->empty() ? 1 : -1;
  const std::vector<fs::path> kept = folder.backups("reduced");
  const std::string live = read_file(folder.lists() / "reduced.txt");
  const bool agree = r.status == status && folder.strays().empty() &&
                     (status == -1 ? live == model_list({current, update}) && kept.size() == 1 &&
                                         read_file(kept[0]) == current
                                   : live == current && kept.empty());
  if (!agree) std::fprintf(stderr, "the merge pass and the model disagree\n"), std::abort();
  return 0;
}
