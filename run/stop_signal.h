// Stopping a run cleanly when it is told to: SIGINT, SIGTERM, SIGHUP and a
// reader of stdout that went away (SIGPIPE).
#pragma once

// Has the stop signals that are not ignored already set a flag instead of
// ending the process; a second one ends it at once, for a source that
// blocks. Ignores SIGXFSZ, so that a file-size limit fails a write instead.
void catchStopSignals();

// The stop signal that has arrived, or 0.
int stopSignal();

// Ends the process by signal as the signal's default action would, so that
// the caller sees how the run ended. stdout is flushed first.
void endBySignal(int signal);
