/*
** Blocks of tens of megabytes that the index job fills once: its input
** files, the records, the de-duplication table and the new image.
*/
#ifndef ORLIXDB_LARGE_BLOCK_H
#define ORLIXDB_LARGE_BLOCK_H

#include <stddef.h>

/*
** Ask the system to back the fresh block[0 .. size) with large pages
** where it can, so that filling it takes fewer page faults than one per
** 4 KiB page (docs/performance.md has what that saves).  Advice only:
** the contents, and how the block is released (free()), stay as they
** were; where there is no such advice it does nothing.
*/
void AdviseLargeBlock(void* block, size_t size);

#endif
