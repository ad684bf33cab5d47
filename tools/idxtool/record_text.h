/*
** The text form of index records: one record a line, the key, a TAB, the
** reference in decimal.  In the key a backslash starts an escape: "\\",
** "\t", "\n", or "\x" and two hex digits for any byte but NUL.  Written
** text keeps valid UTF-8 as it is and escapes the rest: bytes that are no
** valid UTF-8, control characters, characters that show as nothing or
** change the direction of the text (U+200B, U+202E, ...: their bytes, each
** as "\xHH"), the backslash and spaces at either edge of a key ("\x20").  So it is valid UTF-8 without a control character,
** and every key reads back to the same bytes.
*/
#ifndef IDXTOOL_RECORD_TEXT_H
#define IDXTOOL_RECORD_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

/* Append the text form of a key, escapes included, to `out`. */
void FormatKeyText(const char* key, size_t length, std::string* out);

/*
** Parse a whole key written in the text form, as given on a command line.
** Returns null on success, else what is wrong with it.  No length limit:
** keys to compare need not fit an index.
*/
const char* ParseKeyText(const char* text, size_t length, std::string* key);

/* Append the text line of one record, LF included, to `out`. */
void FormatRecordLine(const char* key, size_t length, uint32_t reference, std::string* out);

/*
** Parse one line (without its LF; a trailing CR is ignored) into key and
** reference.  A key may not start with a literal byte-order mark (one
** written "\xEF\xBB\xBF" is taken as meant).  Returns null on success, else what is wrong with the line.
*/
const char* ParseRecordLine(const char* line, size_t length, std::string* key,
                            uint32_t* reference);

#endif
