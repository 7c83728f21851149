// Writes benchmark word lists into a scratch folder, deterministically (fixed seeds):
//
//   <out>/sorted/DicLists/    master.txt in output form (distinct, upper case, sorted byte-wise,
//                             LF-joined, no final line break), reduced.txt, update_words.txt
//   <out>/unsorted/DicLists/  the same words, but master.txt shuffled, in mixed case and with
//                             duplicates
//   <out>/steady/update_words.txt  a second update file of 25,000 words, for the steady state:
//                             the sorted lists after one run, both in written form, and a fresh
//                             update (bench/run.sh makes that folder)
//
// Words are 3 to 14 characters, in one of three mixes of scripts (SCRIPTS):
//   ascii   mostly ASCII letters; one word in sixteen from Latin-1 accented letters, Greek,
//           Cyrillic or CJK ideographs
//   mixed   a quarter of the words from those scripts
//   greek   Greek letters only
//
// Usage: gen_lists MASTER_WORDS OUT_DIR [SCRIPTS]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kReducedWords = 500'000;
constexpr std::size_t kUpdateWords = 20'000;
constexpr std::size_t kSteadyUpdateWords = 25'000;

using Rng = std::mt19937_64;

std::size_t pick(Rng& rng, std::size_t n) {
  return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One upper-case letter of a script, and its lower-case partner (0 when it has none).
struct Letter {
  char32_t upper;
  char32_t lower;
};

std::vector<Letter> range(char32_t first_upper, char32_t last_upper, char32_t first_lower) {
  std::vector<Letter> letters;
  for (char32_t c = first_upper; c <= last_upper; ++c) {
    letters.push_back({c, first_lower == 0 ? 0 : first_lower + (c - first_upper)});
  }
  return letters;
}

struct Alphabets {
  std::vector<Letter> ascii = range('A', 'Z', 'a');
  std::vector<Letter> latin1 = [] {
    std::vector<Letter> letters = range(0xC0, 0xDE, 0xE0);
    letters.erase(letters.begin() + (0xD7 - 0xC0));  // the multiplication sign
    return letters;
  }();
  std::vector<Letter> greek = [] {
    std::vector<Letter> letters = range(0x391, 0x3A9, 0x3B1);
    letters.erase(letters.begin() + (0x3A2 - 0x391));  // unassigned
    return letters;
  }();
  std::vector<Letter> cyrillic = range(0x410, 0x42F, 0x430);
  std::vector<Letter> cjk = range(0x4E00, 0x4E00 + 2000, 0);
};

// How many words in 16 are made of ASCII letters only; 0 makes every word Greek.
std::size_t ascii_in_16 = 15;

// A word in output form (every letter upper case).
std::string upper_word(Rng& rng, const Alphabets& a) {
  std::size_t length = 3 + std::max(pick(rng, 12), pick(rng, 12));  // longer words are more common
  std::string word;
  if (ascii_in_16 == 0) {
    for (std::size_t i = 0; i < length; ++i)
      append_utf8(word, a.greek[pick(rng, a.greek.size())].upper);
    return word;
  }
  if (pick(rng, 16) >= 16 - ascii_in_16) {
    for (std::size_t i = 0; i < length; ++i) word += static_cast<char>('A' + pick(rng, 26));
    return word;
  }
  switch (pick(rng, 4)) {
    case 0:  // mostly ASCII with accented letters
      for (std::size_t i = 0; i < length; ++i) {
        if (pick(rng, 3) == 0) {
          append_utf8(word, a.latin1[pick(rng, a.latin1.size())].upper);
        } else {
          word += static_cast<char>('A' + pick(rng, 26));
        }
      }
      return word;
    case 1:
      for (std::size_t i = 0; i < length; ++i)
        append_utf8(word, a.greek[pick(rng, a.greek.size())].upper);
      return word;
    case 2:
      for (std::size_t i = 0; i < length; ++i) {
        append_utf8(word, a.cyrillic[pick(rng, a.cyrillic.size())].upper);
      }
      return word;
    default:
      for (std::size_t i = 0; i < length; ++i)
        append_utf8(word, a.cjk[pick(rng, a.cjk.size())].upper);
      return word;
  }
}

// The lower-case partner of the upper-case letter that starts at word[i], with its byte length.
std::pair<char32_t, std::size_t> lower_of(std::string_view word, std::size_t i) {
  const auto b = static_cast<unsigned char>(word[i]);
  if (b < 0x80) return {b >= 'A' && b <= 'Z' ? b + 0x20 : b, 1};
  char32_t c;
  std::size_t length;
  if (b < 0xE0) {
    c = ((b & 0x1F) << 6) | (word[i + 1] & 0x3F);
    length = 2;
  } else {
    c = ((b & 0x0F) << 12) | ((word[i + 1] & 0x3F) << 6) | (word[i + 2] & 0x3F);
    length = 3;
  }
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) ||
      (c >= 0x410 && c <= 0x42F)) {
    return {c + 0x20, length};
  }
  return {c, length};
}

// `word` (in output form) with its letters in random case: all lower, capitalised or mixed.
std::string mixed_case(Rng& rng, std::string_view word) {
  const std::size_t style = pick(rng, 4);
  std::string out;
  for (std::size_t i = 0; i < word.size();) {
    auto [lower, length] = lower_of(word, i);
    const bool keep_upper =
        style == 0 || (style == 1 && i == 0) || (style == 2 && pick(rng, 2) == 0);
    if (keep_upper) {
      out.append(word.substr(i, length));
    } else {
      append_utf8(out, lower);
    }
    i += length;
  }
  return out;
}

// Joins words by LF, now and then by CR LF or a space, as hand-kept lists are.
std::string join_loosely(Rng& rng, const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 0) {
      const std::size_t r = pick(rng, 32);
      text += r == 0 ? "\r\n" : r == 1 ? " " : "\n";
    }
    text += words[i];
  }
  return text;
}

std::string join_lines(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 0) text += '\n';
    text += words[i];
  }
  return text;
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "gen_lists: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// The byte-wise sort key of a word's first eight bytes.
std::uint64_t prefix_key(std::string_view word) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    key = (key << 8) | (i < word.size() ? static_cast<unsigned char>(word[i]) : 0);
  }
  return key;
}

// `count` distinct words in output form, sorted byte-wise.
std::vector<std::string> distinct_sorted_words(Rng& rng, const Alphabets& a, std::size_t count) {
  std::vector<std::string> words;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
  while (true) {
    while (words.size() < count + count / 50 + 100) {
      words.push_back(upper_word(rng, a));
    }
    keys.clear();
    for (std::uint32_t i = 0; i < words.size(); ++i) keys.emplace_back(prefix_key(words[i]), i);
    std::sort(keys.begin(), keys.end(), [&](const auto& x, const auto& y) {
      if (x.first != y.first) return x.first < y.first;
      return words[x.second] < words[y.second];
    });
    std::vector<std::string> sorted;
    sorted.reserve(keys.size());
    for (const auto& k : keys) {
      if (sorted.empty() || sorted.back() != words[k.second])
        sorted.push_back(std::move(words[k.second]));
    }
    if (sorted.size() >= count) {
      // Drop surplus words at random positions, keeping the order.
      std::vector<bool> drop(sorted.size(), false);
      for (std::size_t surplus = sorted.size() - count; surplus > 0;) {
        std::size_t i = pick(rng, sorted.size());
        if (!drop[i]) {
          drop[i] = true;
          --surplus;
        }
      }
      std::vector<std::string> kept;
      kept.reserve(count);
      for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (!drop[i]) kept.push_back(std::move(sorted[i]));
      }
      return kept;
    }
    words = std::move(sorted);
  }
}

// `count` words: about half taken from `known`, half new, in mixed case, with about one in five
// a repeat of an earlier word in another case.
std::vector<std::string> mixed_list(Rng& rng, const Alphabets& a,
                                    const std::vector<std::string>& known, std::size_t count) {
  std::vector<std::string> base;
  std::vector<std::string> words;
  while (words.size() < count) {
    if (!base.empty() && pick(rng, 5) == 0) {
      words.push_back(mixed_case(rng, base[pick(rng, base.size())]));
      continue;
    }
    base.push_back(pick(rng, 2) == 0 ? known[pick(rng, known.size())] : upper_word(rng, a));
    words.push_back(mixed_case(rng, base.back()));
  }
  std::shuffle(words.begin(), words.end(), rng);
  return words;
}

void write_lists(const std::filesystem::path& dir, const std::string& master,
                 const std::string& reduced, const std::string& update) {
  std::filesystem::create_directories(dir / "BU_Previous_Files");
  write_file(dir / "master.txt", master);
  write_file(dir / "reduced.txt", reduced);
  write_file(dir / "update_words.txt", update);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scripts = argc == 4 ? argv[3] : "ascii";
  if ((argc != 3 && argc != 4) ||
      (scripts != "ascii" && scripts != "mixed" && scripts != "greek")) {
    std::fprintf(stderr, "usage: gen_lists MASTER_WORDS OUT_DIR [ascii|mixed|greek]\n");
    return 2;
  }
  ascii_in_16 = scripts == "ascii" ? 15 : scripts == "mixed" ? 12 : 0;
  const std::size_t count = std::strtoull(argv[1], nullptr, 10);
  const std::filesystem::path out = argv[2];
  const Alphabets alphabets;

  Rng rng(20260203);
  std::vector<std::string> master = distinct_sorted_words(rng, alphabets, count);
  std::vector<std::string> reduced = mixed_list(rng, alphabets, master, kReducedWords);
  std::vector<std::string> update = mixed_list(rng, alphabets, master, kUpdateWords);
  const std::string reduced_text = join_loosely(rng, reduced);
  const std::string update_text = join_loosely(rng, update);
  write_lists(out / "sorted" / "DicLists", join_lines(master), reduced_text, update_text);

  // The same vocabulary as a list from elsewhere: shuffled, mixed case, one in ten repeated.
  std::vector<std::string> messy;
  messy.reserve(master.size() + master.size() / 10);
  for (const std::string& word : master) {
    messy.push_back(mixed_case(rng, word));
    if (pick(rng, 10) == 0) messy.push_back(mixed_case(rng, word));
  }
  std::shuffle(messy.begin(), messy.end(), rng);
  write_lists(out / "unsorted" / "DicLists", join_loosely(rng, messy), reduced_text, update_text);

  std::filesystem::create_directories(out / "steady");
  write_file(out / "steady" / "update_words.txt",
             join_loosely(rng, mixed_list(rng, alphabets, master, kSteadyUpdateWords)));
  return 0;
}
