// The sizes that reading, checking, ordering and writing a list turn on, and whether a second
// thread checks a list ahead of its merge, in one place. The program runs with the defaults; the
// tests set them small, so that in lists of a few kilobytes every boundary (of a piece, a write
// block, the halves checked on two cores) falls at every place.
#pragma once

#include <cstddef>

namespace corvandel {

struct Tunables {
  /// How much of a current list in written form is read at a time: large enough that each read
  /// costs little, small enough to stay in the caches and keep a pass's memory independent of the
  /// list's size. Each page of the pieces in flight and of their merges is faulted in once a
  /// pass, which on a virtual machine costs more than the copies into it: 256 KiB keeps that small.
  std::size_t piece = std::size_t{1} << 18;
  /// Output is gathered into blocks of this size before each write.
  std::size_t write_block = std::size_t{1} << 20;
  /// A list read whole at least this long is checked against written form on two cores, a half
  /// on each: enough work that it outweighs starting a thread (tens of microseconds). A list read
  /// a piece at a time never is: its pieces are checked and merged on both cores (read_ahead).
  std::size_t two_cores_from = std::size_t{1} << 18;
  /// Lists of at least this many words take their first two bytes in one radix step, the
  /// groups then sorted on two cores.
  std::size_t two_byte_sort_from = std::size_t{1} << 16;
  /// A helper thread checks and merges pieces of a list read a piece at a time, as this thread
  /// does between its reads and writes (which stay on this thread); without it (as where no
  /// thread can start), this thread takes every piece in turn.
  bool read_ahead = true;
};

}  // namespace corvandel
