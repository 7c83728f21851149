// Micro-benchmarks of the merge pass's hot loops: UTF-8 validation, reading a list (splitting and
// upper-casing), upper-casing alone, ordering, and writing the merged list.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "list/list_reader.h"
#include "list/list_writer.h"
#include "list/merge_walk.h"
#include "list/word_list.h"
#include "list/written_form.h"
#include "list/word_sort.h"
#include "text/upper_case.h"
#include "text/utf8.h"

namespace {
using namespace corvandel;

constexpr std::size_t kWords = 500'000;

// Words of 3 to 14 characters, one in sixteen with Latin-1, Greek or Cyrillic letters.
std::vector<std::string> make_words(bool mixed_case, unsigned seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  static const char* const kOther[] = {"\xC3\xA9", "\xC3\x89", "\xCE\xB1", "\xCE\x91",
                                       "\xD0\xB4", "\xD0\x94", "\xC3\x9F", "\xE4\xB8\x80"};
  std::vector<std::string> words;
  for (std::size_t i = 0; i < kWords; ++i) {
    std::string word;
    const bool other = pick(16) == 0;
    for (std::size_t n = 3 + pick(12); n > 0; --n) {
      if (other && pick(3) == 0) {
        word += kOther[pick(std::size(kOther))];
      } else {
        word += static_cast<char>((mixed_case && pick(2) == 0 ? 'a' : 'A') + pick(26));
      }
    }
    words.push_back(word);
  }
  return words;
}

std::string join(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : "\n") + word;
  return text;
}

// A list this program wrote: upper case, sorted, distinct.
const std::string& written_text() {
  static const std::string text = [] {
    std::set<std::string> set;
    for (const std::string& word : make_words(true, 1)) {
      std::string upper;
      unicode::append_upper(word, upper);
      set.insert(upper);
    }
    return join({set.begin(), set.end()});
  }();
  return text;
}

// A list from elsewhere: mixed case, unsorted.
const std::string& mixed_text() {
  static const std::string text = join(make_words(true, 2));
  return text;
}

// A fresh buffer holding `text`, with the hint that a list read from a file gets.
FileData file_data(const std::string& text) {
  FileData data = FileData::allocate(text.size());
  platform().advise_large_memory(data.data(), text.size() + kSlack);
  std::memcpy(data.data(), text.data(), text.size());
  data.size = text.size();
  return data;
}

WordList parsed(const std::string& text) {
  Result<WordList> list = parse_word_list(file_data(text), Tunables{});
  if (!list) std::abort();
  return std::move(list.value());
}

class NullOutput : public OutputFile {
 public:
  Result<void> write(std::string_view bytes) override {
    benchmark::DoNotOptimize(bytes.data());
    return {};
  }
  Result<void> restart() override { return {}; }
  Result<void> finish() override { return {}; }
};

void BM_ValidateUtf8(benchmark::State& state) {
  const std::string& text = mixed_text();
  for (auto _ : state) benchmark::DoNotOptimize(unicode::is_valid_utf8(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ValidateUtf8);

// Validating, splitting and upper-casing; the copy of the text into a fresh buffer, which a
// read from a file would do, is not timed.
void read_list(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    state.PauseTiming();
    FileData data = file_data(text);
    state.ResumeTiming();
    Result<WordList> list = parse_word_list(std::move(data), Tunables{});
    benchmark::DoNotOptimize(list.ok());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
void BM_ReadWrittenList(benchmark::State& state) {
  read_list(state, written_text());
}
void BM_ReadMixedList(benchmark::State& state) {
  read_list(state, mixed_text());
}
BENCHMARK(BM_ReadWrittenList);
BENCHMARK(BM_ReadMixedList);

// Reading a list file whole, as a list that is not in written form is read (the copy into a
// fresh buffer not timed).
void read_list_file(benchmark::State& state, const std::string& path) {
  Result<FileData> data = platform().read_file(path);
  if (!data) return state.SkipWithError(("cannot read " + path).c_str());
  read_list(state, std::string(data.value().view()));
}

// Checking a list file that is in written form as the merge pass's first read does, through a
// small buffer (the reads from the page cache timed too).
void check_list_file(benchmark::State& state, const std::string& path) {
  std::uint64_t size = 0;
  for (auto _ : state) {
    Result<std::unique_ptr<InputFile>> file = platform().open_file(path);
    if (!file) return state.SkipWithError(("cannot read " + path).c_str());
    size = file.value()->size_when_opened();
    ListReader reader(*file.value());
    WrittenFormCheck check(SIZE_MAX);
    ListPiece piece(Tunables{}.piece), before(Tunables{}.piece);
    for (bool first = true; first || !before.last; first = false) {
      reader.read(piece, first ? nullptr : &before);
      if (piece.failure || check.check(piece.words()) != WrittenForm::written) {
        return state.SkipWithError("not a list in written form");
      }
      std::swap(piece, before);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Scanning and upper-casing single words as reading does once a word leaves the block path: in
// place when the byte length allows, else into a buffer of its own.
void BM_UpperCaseWords(benchmark::State& state) {
  const std::vector<std::string> words = make_words(true, 3);
  std::vector<std::string> copies = words;
  std::string spilled;
  for (auto _ : state) {
    for (std::string& word : copies) {
      const unicode::WordScan scan = unicode::scan_word(word);
      if (scan.keeps_length) {
        if (scan.changes) unicode::upper_in_place(word.data(), word.size());
      } else {
        spilled.clear();
        unicode::append_upper(word, spilled);
      }
    }
    state.PauseTiming();
    copies = words;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * words.size()));
}
BENCHMARK(BM_UpperCaseWords);

// Ordering an unsorted list (a list in written form is recognised and not sorted again).
void BM_SortMixedList(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    WordList list = parsed(mixed_text());
    state.ResumeTiming();
    sort_words(list, Tunables{});
    benchmark::DoNotOptimize(list.refs().data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kWords));
}
BENCHMARK(BM_SortMixedList);

// Merging a written list with a sorted list of a tenth of its size and writing the result.
void BM_WriteMergedList(benchmark::State& state) {
  WordList current = parsed(written_text());
  std::string update_text;
  std::string_view rest = written_text();
  for (std::size_t i = 0; !rest.empty(); ++i) {
    const std::size_t lf = std::min(rest.find('\n'), rest.size());
    if (i % 10 == 0) update_text += std::string(rest.substr(0, lf)) + "X\n";
    rest.remove_prefix(std::min(lf + 1, rest.size()));
  }
  WordList update = parsed(update_text);
  NullOutput out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(write_merged_lists(out, current, update, Tunables{}).ok());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * (written_text().size() + update_text.size())));
}
BENCHMARK(BM_WriteMergedList);

// The merge walk alone, on one thread, in the steady state: a master list in written form and the
// reduced list beside it (also in written form, nearly all of its words in the master) as the
// update, both in memory, merged into memory as one piece while the master is checked, as each
// piece of a streamed list is.
void steady_walk(benchmark::State& state, const std::string& path) {
  const std::string reduced_path = path.substr(0, path.rfind('/') + 1) + "reduced.txt";
  Result<FileData> master = platform().read_file(path), reduced = platform().read_file(reduced_path);
  if (!master || !reduced) return state.SkipWithError(("cannot read " + path).c_str());
  Result<WordList> update = parse_word_list(std::move(reduced.value()), Tunables{});
  if (!update || !update.value().written_form()) return state.SkipWithError("not written form");
  ListWriter merged(master.value().size + update.value().text().size() + 1);
  for (auto _ : state) {
    merged.restart(false);
    WrittenFormWalk check;
    if (merge_piece(check, merged, master.value().view(), update.value(),
                    all_words(update.value())) != WrittenForm::written) {
      return state.SkipWithError("not written form");
    }
    benchmark::DoNotOptimize(merged.gathered().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * master.value().size));
}

}  // namespace

// Each list of CORVANDEL_BENCH_LISTS ("name=path,name=path"; bench/run.sh names each set's master
// list) gets its reading measured; for a sorted set, its check; for a steady set, its merge walk.
int main(int argc, char** argv) {
  std::string lists =
      std::getenv("CORVANDEL_BENCH_LISTS") ? std::getenv("CORVANDEL_BENCH_LISTS") : "";
  for (std::size_t at = 0; at < lists.size();) {
    const std::size_t comma = std::min(lists.find(',', at), lists.size());
    const std::string item = lists.substr(at, comma - at), name = item.substr(0, item.find('='));
    const std::string path = item.substr(item.find('=') + 1);
    benchmark::RegisterBenchmark(("BM_ReadListFile/" + name).c_str(), read_list_file, path)
        ->Unit(benchmark::kMillisecond);
    if (name.ends_with("-steady")) {
      benchmark::RegisterBenchmark(("BM_SteadyWalk/" + name).c_str(), steady_walk, path)
          ->Unit(benchmark::kMillisecond);
    }
    if (name.ends_with("-sorted")) {
      benchmark::RegisterBenchmark(("BM_CheckWrittenListFile/" + name).c_str(), check_list_file,
                                   path)
          ->Unit(benchmark::kMillisecond);
    }
    at = comma + 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
