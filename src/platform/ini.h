// Reading of INI profile files, with the answers of the Windows profile
// functions: names compared without regard to case, blanks around names and
// values trimmed, the first matching section and key win, lines starting
// with ';' are comments, a value in matching quotes loses them. Lines end
// at CR, LF or both; a zero byte ends a name or value; a '[' line without
// ']' is no header; a key line without '=' reads as missing. A file that
// starts with a UTF-16 byte-order mark is read as UTF-16 (on POSIX turned
// into UTF-8).
//
// A relative path, a bare file name included, names a file in the working
// folder on both platforms.
#pragma once

namespace platform {

// Writes the section names of the file into out (each ended by a zero byte,
// the list by one more) and returns the number of characters written before
// the final zero. Returns 0 when the file cannot be read or holds no section;
// lastSystemError() then tells why (2 for a missing file).
unsigned iniSectionNames(const char* path, char* out, unsigned size);

// Reads an integer: blanks, an optional sign, then leading decimal digits,
// or "0x", "0o" or "0b" and hexadecimal, octal or binary digits; the rest is
// ignored and the value wraps at 32 bits. A missing key or an empty value
// gives defaultValue.
int iniGetInt(const char* section, const char* key, int defaultValue, const char* path);

// Copies the key's text, or defaultValue when the key is missing, into out,
// cut to size - 1 characters and always terminated. Returns the number of
// characters copied.
unsigned iniGetString(const char* section, const char* key, const char* defaultValue, char* out,
                      unsigned size, const char* path);

}  // namespace platform
