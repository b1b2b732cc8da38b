// The INI configuration file and the settings printout.
#pragma once

// Reads the nineteen keys from the file at path into serverSettings and
// serverStatus, defaults for missing keys. Returns false, after a log line,
// when the file cannot be read or holds no section; nothing is written then.
// A text value longer than its field is refused with a log line naming the
// key and its limit, and the default is kept; except [camera] imageroot,
// whose default would lift the restriction: then false, after a log line.
// With an image root set, a fileprefix whose folder does not lie inside it
// is refused with a log line and the default name inside the root taken.
bool importIniSettings(const char* path);

// Writes the settings printout to the current log stream: fourteen lines,
// one more for a pairing mode other than repair, one more for a bind
// address other than every local address, and one more for an image root.
void printSettings();
