// Ordering a list's words: most-significant-digit radix sort on one byte per level (a large list
// takes its first two bytes in one step, on two cores), small groups by comparison.
#include "list/word_sort.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/two_cores.h"
#include "platform/platform.h"

namespace corvandel {
namespace {

// Sorts a list's words byte-wise: most-significant-digit radix sort on one byte per level, so
// that each word's bytes are looked at about once, with a comparison sort for small groups.
class WordSorter {
 public:
  WordSorter(const WordList& list, std::size_t two_byte_sort_from)
      : list_(list),
        base_(list.refs().data()),
        scratch_(std::make_unique_for_overwrite<WordRef[]>(list.refs().size())),
        digits_(std::make_unique_for_overwrite<std::uint16_t[]>(list.refs().size())),
        two_byte_sort_from_(two_byte_sort_from) {
    platform().advise_large_memory(scratch_.get(), list.refs().size() * sizeof(WordRef));
    platform().advise_large_memory(digits_.get(), list.refs().size() * sizeof(std::uint16_t));
  }

  // Sorts all of the list's words, `refs`. Large lists take their first two bytes in one step, on
  // both cores from the start: the words are still in text order then, so each core's passes
  // over its half of them read the text front to back.
  void sort_all(WordRef* refs, std::size_t count) {
    if (count < two_byte_sort_from_) return sort(refs, count, 0);
    // Digit: the first byte plus one, times 257, plus the second byte plus one (0: no byte).
    const auto digit = [&](WordRef ref) {
      const std::string_view word = list_.word(ref);
      const unsigned first = static_cast<Byte>(word[0]) + 1u;
      const unsigned second = word.size() > 1 ? static_cast<Byte>(word[1]) + 1u : 0u;
      return first * kDigits + second;
    };
    constexpr std::size_t kTwoByteDigits = kDigits * kDigits;
    // Each half of the words is counted, then placed, by a core of its own; the words of a digit
    // from the first half go before those from the second, so that the order stays stable.
    const std::size_t middle = count / 2;
    std::vector<std::size_t> first(kTwoByteDigits, 0), second(kTwoByteDigits, 0);
    run_on_two_cores([&] { count_digits(refs, 0, middle, digit, first); },
                     [&] { count_digits(refs, middle, count, digit, second); });
    std::vector<std::size_t> starts(kTwoByteDigits + 1);
    for (std::size_t d = 0, next = 0; d < kTwoByteDigits; ++d) {
      const std::size_t from_first = first[d], from_second = second[d];
      starts[d] = first[d] = next;
      second[d] = next + from_first;
      next += from_first + from_second;
    }
    starts[kTwoByteDigits] = count;
    WordRef* const out = scratch_.get();
    run_on_two_cores([&] { place_digits(refs, 0, middle, digit, first, out); },
                     [&] { place_digits(refs, middle, count, digit, second, out); });
    // Groups of one-byte words are single words repeated; the others go on from the third byte,
    // each on its own, so that the second core takes the groups of the second half of the words.
    const auto sort_groups = [&](std::size_t from, std::size_t to) {
      std::copy(out + starts[from], out + starts[to], refs + starts[from]);
      for (std::size_t d = from; d < to; ++d) {
        const std::size_t size = starts[d + 1] - starts[d];
        if (size > 1 && d % kDigits != 0) sort(refs + starts[d], size, 2);
      }
    };
    const auto half = static_cast<std::size_t>(
        std::lower_bound(starts.begin(), starts.end() - 1, middle) - starts.begin());
    run_on_two_cores([&] { sort_groups(0, half); }, [&] { sort_groups(half, kTwoByteDigits); });
  }

  void sort(WordRef* refs, std::size_t count, std::size_t depth) {
    for (;; ++depth) {
      if (count < kSmallGroup) return sort_small(refs, count, depth);
      if (depth >= kMaxRadixDepth) {
        std::sort(refs, refs + count, [&](WordRef a, WordRef b) {
          return list_.word(a).substr(depth) < list_.word(b).substr(depth);
        });
        return;
      }
      // Digit 0: the word ends at `depth`; else the byte there plus one.
      std::uint16_t* const digits = digits_.get() + (refs - base_);
      std::size_t counts[kDigits] = {};
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kPrefetchAhead < count) list_.prefetch(refs[i + kPrefetchAhead], depth);
        const std::string_view word = list_.word(refs[i]);
        const unsigned digit = depth < word.size() ? static_cast<Byte>(word[depth]) + 1u : 0u;
        digits[i] = static_cast<std::uint16_t>(digit);
        ++counts[digit];
      }
      if (counts[digits[0]] == count) {
        if (digits[0] == 0) return;  // all the same word
        continue;                    // one shared byte: look at the next
      }
      std::size_t starts[kDigits];
      std::size_t next = 0;
      for (unsigned d = 0; d < kDigits; ++d) {
        starts[d] = next;
        next += counts[d];
      }
      WordRef* const out = scratch_.get() + (refs - base_);
      std::size_t fill[kDigits];
      std::copy(std::begin(starts), std::end(starts), std::begin(fill));
      for (std::size_t i = 0; i < count; ++i) out[fill[digits[i]]++] = refs[i];
      std::copy(out, out + count, refs);
      // Words that ended at `depth` are equal; every other group goes one byte deeper.
      for (unsigned d = 1; d < kDigits; ++d) {
        if (counts[d] > 1) sort(refs + starts[d], counts[d], depth + 1);
      }
      return;
    }
  }

 private:
  template <class Digit>
  static void count_digits(const WordRef* refs, std::size_t from, std::size_t to,
                           const Digit& digit, std::vector<std::size_t>& counts) {
    for (std::size_t i = from; i < to; ++i) ++counts[digit(refs[i])];
  }

  // Places refs[from, to) at the places that `fill` holds for their digits, and moves those on.
  template <class Digit>
  static void place_digits(const WordRef* refs, std::size_t from, std::size_t to,
                           const Digit& digit, std::vector<std::size_t>& fill, WordRef* out) {
    for (std::size_t i = from; i < to; ++i) out[fill[digit(refs[i])]++] = refs[i];
  }

  // Sorts a small group on the next eight bytes of each word, read once; whole words decide ties.
  void sort_small(WordRef* refs, std::size_t count, std::size_t depth) {
    struct Keyed {
      std::uint64_t key;
      WordRef ref;
    };
    Keyed keyed[kSmallGroup];
    for (std::size_t i = 0; i < count; ++i) {
      keyed[i] = {list_.key(refs[i], depth), refs[i]};
    }
    std::sort(keyed, keyed + count, [&](const Keyed& a, const Keyed& b) {
      if (a.key != b.key) return a.key < b.key;
      return list_.word(a.ref).substr(depth) < list_.word(b.ref).substr(depth);
    });
    for (std::size_t i = 0; i < count; ++i) refs[i] = keyed[i].ref;
  }

  static constexpr unsigned kDigits = 257;
  static constexpr std::size_t kSmallGroup = 64;
  static constexpr std::size_t kPrefetchAhead = 16;
  // Deeper than this, shared prefixes are long and rare: a comparison sort bounds the recursion.
  static constexpr std::size_t kMaxRadixDepth = 64;

  const WordList& list_;
  const WordRef* const base_;
  std::unique_ptr<WordRef[]> scratch_;
  std::unique_ptr<std::uint16_t[]> digits_;
  const std::size_t two_byte_sort_from_;
};

}  // namespace

void sort_words(WordList& list, const Tunables& tunables) {
  if (list.sorted_distinct()) return;
  WordSorter sorter(list, tunables.two_byte_sort_from);
  sorter.sort_all(list.refs().data(), list.refs().size());
}

}  // namespace corvandel
