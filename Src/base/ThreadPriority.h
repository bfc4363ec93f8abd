// Thread priorities of worker threads, mapped to per-thread nice values (idle: SCHED_IDLE).
#pragma once

namespace tarnel {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Applies the priority to the calling thread. Best effort: a refusal is logged as a warning.
void ApplyThreadPriority(TThreadPriority priority);

} // namespace tarnel
