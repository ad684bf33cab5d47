#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_read.h"
#include "file_syscall.h"
#include "large_block.h"

/*
** O_NONBLOCK so that a FIFO or device put where an index should be is
** refused at once instead of hanging the job; it changes nothing for a
** regular file.
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status)
{
    int fd = SYS(openat, AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        int error = errno;
        FileFailed(status, kFileCannotOpen, path, error);
        return error == ENOENT ? kFileMissing : kFileReadFailed;
    }

    enum FileRead result = kFileReadOk;
    struct stat st;
    uint8_t* buffer = nullptr;
    int error = 0;
    if (SYS(fstat, fd, &st) != 0)
        result = kFileReadFailed, FileFailed(status, kFileCannotRead, path, errno);
    else if (!S_ISREG(st.st_mode))
        result = kFileReadFailed, FileFailed(status, FileNotRegularText(st.st_mode), path, 0);
    else if ((uint64_t)st.st_size > limit)
        result = kFileTooLarge, FileFailed(status, kFileTooLargeText, path, EFBIG);
    else if ((buffer = (uint8_t*)malloc(st.st_size > 0 ? (size_t)st.st_size : 1)) == nullptr)
        result = kFileNoMemory, FileFailed(status, kFileNotReadWhole, path, ENOMEM);
    else {
        AdviseLargeBlock(buffer, (size_t)st.st_size);
        if ((error = FileReadAll(fd, buffer, (size_t)st.st_size)) != 0)
            result = kFileReadFailed, FileFailed(status, kFileCannotRead, path, error);
    }
    gFileCalls.close(fd);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)st.st_size;
    return kFileReadOk;
}
