#pragma once
// Scheduling priority of the calling thread.

namespace sejfko {

// Lowers the calling thread one step below normal where the platform has such a step, so that a
// backup does not compete with the user's foreground work. Best effort: nothing happens (and
// nothing is reported) where the system refuses.
void LowerCurrentThreadPriority();

}  // namespace sejfko
