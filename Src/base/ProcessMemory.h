// The process's memory policy for long runs.
#pragma once

namespace tarnel {

// Limits the C allocator to a few arenas (unless MALLOC_ARENA_MAX says otherwise). By default it
// gives threads arenas of their own, up to eight per core; conversions start and end threads all
// the time, and over a long batch the memory freed in each arena stays scattered between pieces
// still in use, so the resident size creeps up batch after batch. Call once, before any thread.
void LimitAllocatorArenas();

} // namespace tarnel
