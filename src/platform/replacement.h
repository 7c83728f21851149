// The replacement of a list by its new version, keeping the old one as a backup: the one sequence
// of steps that every platform runs, over the platform's small file operations.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"
#include "base/result.h"

namespace corvandel {

/// Puts `replacement` in place at `live`, keeping the previous `live` file at `backup`, so that
/// at every instant `live` names either the complete old file or the complete new one; the
/// replacement takes the old file's permissions. Refuses an existing `backup` (already_exists),
/// and, with changed_meanwhile, a `live` that is no longer `live_state` (as InputFile::state()
/// tells it) when given, checked just before each step that relies on it. On failure nothing
/// has changed: `live` is as it was, `backup` does not exist and `replacement` is still there
/// (but where, on a volume without hard links, another program takes the live name while the old
/// file is moved aside: that file stays, and the old one stays at `backup`). On success the
/// change is durable.
Result<void> replace_keeping_backup(Platform& os, const std::string& replacement,
                                    const std::string& live, const std::string& backup,
                                    const std::optional<std::string>& live_state);

}  // namespace corvandel
