// A seam for tests of profile writes; production code does not include this header.
#pragma once

#include <functional>

namespace lumivex::platform {

// The steps of a write that replaces the file, in order, for tests that interrupt a write at
// each of them.
enum class ProfileWriteStep { kCreateTemp, kWriteTemp, kSyncTemp, kCloseTemp, kRename };

// Called before each step of every write; returning false makes that step fail as the OS
// would (the write then cleans up and reports failure). Empty by default. Install it before
// any write starts and remove it after the last one ends.
void SetProfileWriteHook(std::function<bool(ProfileWriteStep)> hook);

}  // namespace lumivex::platform
