/*
** The calling convention shared with OrlixDB.dll.
**
** The database library calls the headword collation back through a plain
** function pointer, and the utility calls the library's export 12; both sides
** must agree on how arguments are passed.  On 32-bit Windows the library is
** taken to use the C convention (caller pops the stack).  Should the
** product's library turn out to use another one, this is the only line to
** change.  64-bit Windows and the host have a single convention, so the
** macro is empty there.
*/
#ifndef ORLIX_PLATFORM_CALLING_CONVENTION_H
#define ORLIX_PLATFORM_CALLING_CONVENTION_H

#if defined(_WIN32) && !defined(_WIN64)
#define ORLIX_CALL __cdecl
#else
#define ORLIX_CALL
#endif

#endif
