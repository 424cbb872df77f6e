#!/usr/bin/env python3
"""A FUSE file system that passes every request on to a folder and logs the
ones that make things durable, one line each: "FSYNC path", "FSYNCDIR path",
"RENAME old new". Usage: logging_fs.py BACKING MOUNTPOINT LOG (foreground)."""

import errno
import os
import sys

try:
    import fuse
except ImportError:
    import fusepy as fuse  # Debian's name for it


class LoggingFs(fuse.Operations):
    lock = None  # the kernel keeps the locks itself

    def __init__(self, root, log):
        self.root, self.log = root, open(log, "a", buffering=1)

    def _(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        st = os.lstat(self._(path))
        return {k: getattr(st, k) for k in ("st_mode", "st_nlink", "st_size", "st_uid", "st_gid",
                                            "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        return [".", "..", *os.listdir(self._(path))]

    def mkdir(self, path, mode):
        os.mkdir(self._(path), mode)

    def create(self, path, mode, fi=None):
        return os.open(self._(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return os.open(self._(path), flags & ~os.O_NOFOLLOW)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._(path), length)

    def utimens(self, path, times=None):
        os.utime(self._(path), times)

    def release(self, path, fh):
        os.close(fh)

    def unlink(self, path):
        os.unlink(self._(path))

    def rename(self, old, new):
        self.log.write(f"RENAME {old} {new}\n")
        os.rename(self._(old), self._(new))

    def fsync(self, path, datasync, fh):
        self.log.write(f"FSYNC {path}\n")
        os.fsync(fh)

    def fsyncdir(self, path, datasync, fh):
        self.log.write(f"FSYNCDIR {path}\n")

    def statfs(self, path):
        st = os.statvfs(self._(path))
        return {k: getattr(st, k) for k in ("f_bsize", "f_frsize", "f_blocks", "f_bfree", "f_bavail",
                                            "f_files", "f_ffree", "f_namemax")}


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(errno.EINVAL)
    fuse.FUSE(LoggingFs(sys.argv[1], sys.argv[3]), sys.argv[2], foreground=True, nothreads=True)
