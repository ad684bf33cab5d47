/*
** The library's file layer, for the tools: each part has its own header.
** file_read.h reads a file whole; file_lock.h holds a target for one job;
** file_replace.h replaces it atomically and durably; file_signals.h
** clears what a stopped run leaves; file_name.h names the files beside a
** target.  docs/reliability.md states their guarantees with their tests.
*/
#ifndef ORLIXDB_FILE_IO_H
#define ORLIXDB_FILE_IO_H

#include "file_lock.h"
#include "file_name.h"
#include "file_read.h"
#include "file_replace.h"
#include "file_signals.h"
#include "file_status.h"

#endif
