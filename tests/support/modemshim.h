#pragma once

#include <QString>

// The modem line shim (libmodemshim.so), preloaded into a test process so
// that pseudo-terminals have DSR and CTS. Every function is harmless when the
// shim is not loaded.
namespace ModemShim {

// Restarts this process with the shim preloaded, unless it already is (or a
// restart was already tried). Returns only when no restart happened.
void preload(const char *shimPath, char **argv);

bool loaded();
// Sets the input lines (TIOCM_DSR, TIOCM_CTS bits) that every pseudo-terminal
// slave reports from now on; false when the shim is not loaded.
bool setInputs(int tiocmBits);
// Hands modem line requests to the kernel again, as without the shim.
void release();
// What the port would read: the inputs set here and the DTR/RTS the program set.
int lines();

// Writes the input bits into a state file for child processes (MODEMSHIM_STATE).
bool writeStateFile(const QString &path, int tiocmBits);

// Built with AddressSanitizer: the shim then has to be preloaded ahead of it.
bool sanitized();

}
