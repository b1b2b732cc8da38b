// The INI configuration file and the settings printout.
#pragma once

// Reads the eighteen keys from the file at path into serverSettings and
// serverStatus, defaults for missing keys. Returns false, after a log line,
// when the file cannot be read or holds no section; nothing is written then.
// A text value longer than its field is refused with a log line naming the
// key and its limit, and the default is kept.
bool importIniSettings(const char* path);

// Writes the settings printout to the current log stream: fourteen lines,
// one more for a pairing mode other than repair,
// and one more for a bind address other than every local address.
void printSettings();
