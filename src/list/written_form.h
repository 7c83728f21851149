// Written form, the one shape in which this program writes a list: upper-case words in strictly
// ascending byte-wise order, joined by single LFs, with no other whitespace, no empty word and no
// LF at the end. The check here is its one judge: a list read whole and a list read a piece at a
// time count as written only where this check has passed over their text, and only text it has
// passed over is copied on as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvandel {

enum class WrittenForm { written, not_written, not_utf8 };

/// Judges a list's text against written form, stretch by stretch, in order.
class WrittenFormCheck {
 public:
  /// Judges stretches of `two_cores_from` bytes or more on two cores.
  explicit WrittenFormCheck(std::size_t two_cores_from) : two_cores_from_(two_cores_from) {}

  /// Judges the next stretch of the list: whole words, from the list's start or just after an LF
  /// to just before an LF or the list's end. An LF must stand right after the stretch, and kSlack
  /// bytes after it must be readable. Stops at the first sign that the list is not in written
  /// form, or not UTF-8. A long stretch is judged on two cores, a half on each.
  WrittenForm check(std::string_view stretch);
  /// Judges what follows as if the stretch judged last had ended with `word`: a piece of a list
  /// judged apart from the pieces before it, which must then each have been judged written.
  void continue_after(std::string_view word) { first_.continue_after(word); }

 private:
  // The words of stretches in turn, each above the one before; one thread's share of the work.
  class Walk {
   public:
    WrittenForm check(std::string_view stretch);
    // Goes on as if `word` had been the last word judged.
    void continue_after(std::string_view word);
    std::string_view last_word() const { return previous_word_; }

   private:
    bool follows(const char* word, const char* end);

    bool first_ = true;
    std::uint64_t previous_key_ = 0;
    std::string_view previous_word_;  // in the stretch being judged, or in previous_
    std::string previous_;            // the last word of the stretch before
  };

  std::size_t two_cores_from_;
  Walk first_, second_;
};

}  // namespace corvandel
