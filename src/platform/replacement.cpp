// The replacement of a list, once for every platform. Each name is made durable before the next
// step relies on it: the new list before it is linked or moved (its own flush, when it was
// written), the backup name before the live name changes, so that after a power cut the old list
// is still found under one of them. Steps that another program's hold on a file blocks are tried
// again for a while (retry_while_held), and the live list is looked at again inside each try.
#include "platform/replacement.h"

namespace corvandel {
namespace {

// With a hard link: the backup becomes a second name of the live file, then the new file takes
// the live name in one step, as long as the live name still names the file that the backup does
// (another program's save meanwhile is not replaced unseen).
Result<void> replace_after_link(Platform& os, const std::string& replacement,
                                const std::string& live, const std::string& backup) {
  Result<FileState> linked = os.file_state(backup);
  Result<void> step = linked ? os.sync_directory(parent_of(backup)) : linked.error();
  if (step) {
    step = retry_while_held(os, [&]() -> Result<void> {
      Result<FileState> now = os.file_state(live);
      if (!now) return now.error();
      if (now.value().identity != linked.value().identity) return changed_meanwhile_error();
      return os.move_file(replacement, live, true);
    });
  }
  if (!step) {
    // Where even this fails (the file held open all the while), the old list keeps a second
    // name in the backup folder.
    [[maybe_unused]] Result<void> removed = os.remove_file(backup);
  }
  return step;
}

// Without hard links the live name is briefly absent between the two moves; a file that another
// program puts there meanwhile is not replaced, and the old one stays the backup.
Result<void> replace_by_two_moves(Platform& os, const std::string& replacement,
                                  const std::string& live, const std::string& backup) {
  Result<void> aside = retry_while_held(os, [&] { return os.move_file(live, backup, false); });
  if (!aside) return aside;
  Result<void> step = os.sync_directory(parent_of(backup));
  if (step) step = retry_while_held(os, [&] { return os.move_file(replacement, live, false); });
  if (step) return step;
  if (!os.move_file(backup, live, false)) return changed_meanwhile_error();
  if (step.error().kind == ErrorKind::already_exists) return changed_meanwhile_error();
  return step;
}

}  // namespace

Result<void> replace_keeping_backup(Platform& os, const std::string& replacement,
                                    const std::string& live, const std::string& backup,
                                    const std::optional<std::string>& live_state) {
  // A replacement that cannot be made for other programs' handles is found before anything is
  // changed.
  if (Result<void> free = os.wait_until_replaceable(live); !free) return free;
  Result<FileState> old = os.file_state(live);
  if (!old) return old.error();
  if (live_state && old.value().identity != *live_state) return changed_meanwhile_error();
  os.keep_permissions(replacement, old.value().permissions);
  Result<void> linked = retry_while_held(os, [&] { return os.hard_link(live, backup); });
  Result<void> replaced = linked ? replace_after_link(os, replacement, live, backup)
                          : linked.error().kind == ErrorKind::unsupported
                              ? replace_by_two_moves(os, replacement, live, backup)
                              : linked;
  if (!replaced) return replaced;
  // The new list is in place; a failed flush now cannot be undone and is not reported.
  [[maybe_unused]] Result<void> synced = os.sync_directory(parent_of(live));
  return {};
}

}  // namespace corvandel
