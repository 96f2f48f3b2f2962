#pragma once
// SIGINT, SIGTERM and SIGHUP stop a run at its next safe point instead of
// killing the program in the middle of writing: the first signal only sets
// a flag that the run's progress checks read; a second one ends the program
// at once (the catalogue is only ever replaced by a rename, so nothing
// half-written is left in its place) after killing a compiler child.
#include <sys/types.h>

#include "base/exceptions.h"

// Raised where a run notices the request; carries nothing but the signal.
ORVALIS_DECLARE_ERROR(EInterrupted, Exception);

// Installs the handlers (idempotent).
void InstallInterruptHandlers();
// The signal that asked the run to stop, or 0.
int InterruptSignal();
inline bool InterruptRequested() { return InterruptSignal() != 0; }
// Raises EInterrupted when a stop was asked for.
void ThrowIfInterrupted();
// The exit status that reports the signal: 128 + its number.
int InterruptExitStatus();
// A child process group the second signal kills with the program (0: none).
void SetInterruptChildGroup(pid_t group);
