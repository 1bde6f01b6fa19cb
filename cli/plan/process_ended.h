// Whether a process that left something behind has ended, so that what it left can go.
#ifndef QUILLET_CLI_PLAN_PROCESS_ENDED_H
#define QUILLET_CLI_PLAN_PROCESS_ENDED_H

namespace quillet::cli::plan {

// True only when the system says there is no such process running: one that is alive, or
// that this user may not ask about, has not ended.
bool ProcessEnded(long process);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_PROCESS_ENDED_H
