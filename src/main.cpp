// corvandel: merges the words of update_words.txt into the reduced list, then the reduced list
// into the master list, keeping each replaced list as a time-stamped backup.
#include <cstddef>

#include "run/update_run.h"

int main(int argc, char** argv) {
  corvandel::run_program({argv, static_cast<std::size_t>(argc)});
}
