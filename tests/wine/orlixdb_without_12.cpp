/* An OrlixDB.dll that lacks export 12: the loader must not start the utility. */
extern "C" int OtherExport(void) { return 0; }
