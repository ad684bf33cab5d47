#!/usr/bin/env python3
"""release_zip.py ZIP EPOCH DIR: packs the files under DIR into ZIP, under a
top folder of DIR's name, so that the same files give the same bytes.

Entries go in byte order of their names, all dated EPOCH (seconds since
1970, UTC; a zip cannot hold a date before 1980), with mode 0755 when the
owner may execute the file and 0644 otherwise, and nothing else of the
builder's file system (no owner, no extra fields).  A file named OrlixDB.dll,
in any case, is refused: the product ships its own library and no archive
may carry one that would replace it.  ZIP is written whole or not at all.
"""
import os
import stat
import sys
import time
import zipfile

DOS_EPOCH = 315532800  # 1980-01-01T00:00:00Z


def entries(root):
    top = os.path.basename(os.path.normpath(root))
    found = []
    for base, dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(base, name)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            found.append((top + "/" + rel, path))
    return sorted(found, key=lambda e: e[0].encode())


def main(argv):
    if len(argv) != 4:
        sys.exit("usage: release_zip.py ZIP EPOCH DIR")
    out, epoch, root = argv[1], int(argv[2]), argv[3]
    stamp = time.gmtime(max(epoch, DOS_EPOCH))[:6]
    files = entries(root)
    if not files:
        sys.exit("release_zip.py: %s holds no file" % root)
    for name, path in files:
        if os.path.basename(name).lower() == "orlixdb.dll":
            sys.exit("release_zip.py: refusing %s: the product ships its own OrlixDB.dll" % path)
        if not stat.S_ISREG(os.lstat(path).st_mode):
            sys.exit("release_zip.py: %s is not a regular file" % path)
    tmp = out + ".tmp"
    try:
        with zipfile.ZipFile(tmp, "w") as z:
            for name, path in files:
                mode = 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644
                info = zipfile.ZipInfo(name, stamp)
                info.create_system = 3  # Unix, so the mode below is read
                info.external_attr = (stat.S_IFREG | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), compresslevel=9)
        os.replace(tmp, out)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


if __name__ == "__main__":
    main(sys.argv)
