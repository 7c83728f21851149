// The sizes that reading, checking, ordering and writing a list turn on, in one place. The
// program runs with the defaults; the tests set them small, so that in lists of a few kilobytes
// every boundary (of a piece, a write block, the halves checked on two cores) falls at every
// place.
#pragma once

#include <cstddef>

namespace corvandel {

struct Tunables {
  /// How much of a list is read at a time: large enough that each read costs little, small
  /// enough to stay in the caches and keep a pass's memory independent of the list's size.
  std::size_t piece = std::size_t{1} << 20;
  /// Output is gathered into blocks of this size before each write.
  std::size_t write_block = std::size_t{1} << 20;
  /// Stretches of a list at least this long are checked on two cores, a half on each: enough
  /// work that it outweighs starting a thread (tens of microseconds).
  std::size_t two_cores_from = std::size_t{1} << 18;
  /// Lists of at least this many words take their first two bytes in one radix step, the
  /// groups then sorted on two cores.
  std::size_t two_byte_sort_from = std::size_t{1} << 16;
  /// A helper thread reads and checks the next piece of a list in written form while this one
  /// is merged; without it (as where no thread can start), the two take turns on one thread.
  bool read_ahead = true;
};

}  // namespace corvandel
