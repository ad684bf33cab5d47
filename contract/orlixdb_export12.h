/*
** The contract between the utility and OrlixDB.dll: export 12.
**
** The utility binds the library's export 12 by ordinal, and the library
** calls the headword collation back through a plain function pointer.  No
** linker compares the two sides of an ordinal binding, so this is the one
** declaration of it: the utility's boundary, the stand-in library and every
** test double include it, and each definition of export 12 is compiled with
** it in sight, so that a difference in types or convention is a compile
** error rather than a stack imbalance at run time.  The ordinal itself
** stands in orlixdb_export12.def, shared by the import library and the
** stand-in DLL; the build checks that both name the same number.
*/
#ifndef ORLIX_CONTRACT_ORLIXDB_EXPORT12_H
#define ORLIX_CONTRACT_ORLIXDB_EXPORT12_H

#include <stdint.h>

/*
** How arguments are passed, both ways.  On 32-bit Windows the library is
** taken to use the C convention (caller pops the stack); should the
** product's library turn out to use another one, this is the only line to
** change.  64-bit Windows and the host have a single convention.
*/
#if defined(_WIN32) && !defined(_WIN64)
#define ORLIX_CALL __cdecl
#else
#define ORLIX_CALL
#endif

/* The export's number in OrlixDB.dll; orlixdb_export12.def says the same. */
#define ORLIX_EXPORT12_ORDINAL 12

/*
** The collation the library calls back: negative when `first` sorts
** before `second`, 0 when they sort together, positive after.
*/
typedef int32_t(ORLIX_CALL* OrlixKeyCompare)(const char* first, const char* second);

/*
** The utility imports export 12 (its build defines ORLIX_EXPORT12_IMPORTED);
** the stand-in and the doubles define it and export it through the .def.
*/
#if defined(_WIN32) && defined(ORLIX_EXPORT12_IMPORTED)
#define ORLIX_EXPORT12_LINKAGE __declspec(dllimport)
#else
#define ORLIX_EXPORT12_LINKAGE
#endif

/*
** Export 12 of OrlixDB.dll: the index job on `target` and `count` source
** indexes listed in `sources`, ordered by `compare`.  Bound by ordinal;
** the name is ours and stands in no Windows file.
*/
extern "C" ORLIX_EXPORT12_LINKAGE int32_t ORLIX_CALL DbOrdinal12(const char* target, int32_t count,
                                                                 const char* const* sources,
                                                                 OrlixKeyCompare compare);

#endif
