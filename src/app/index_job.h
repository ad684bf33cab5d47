#ifndef ORLIX_APP_INDEX_JOB_H
#define ORLIX_APP_INDEX_JOB_H

/*
** The whole run: probe the installation, form the three index paths and
** hand them to the database library.  Returns 1 once the library call has
** returned and 0 when nothing was done.  Every key it opens is closed
** before it returns.
*/
int RunIndexJob(void);

#endif
