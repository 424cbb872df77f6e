#!/usr/bin/env python3
"""FUSE over a folder, logging what makes things durable: "FSYNC path", "FSYNCDIR path",
"RENAME old new". Usage: logging_fs.py BACKING MOUNTPOINT LOG (stays in the foreground)."""
import os
import sys

import fusepy as fuse  # Debian's python3-fusepy


class LoggingFs(fuse.Operations):
    lock = None  # the kernel keeps the locks itself

    def __init__(self, root, log):
        self.at, self.log = lambda path: os.path.join(root, path.lstrip("/")), open(log, "a", buffering=1)

    def getattr(self, path, fh=None):
        st = os.lstat(self.at(path))
        return {k: getattr(st, k) for k in dir(st) if k.startswith("st_")}

    def readdir(self, path, fh):
        return [".", "..", *os.listdir(self.at(path))]

    def mkdir(self, path, mode):
        os.mkdir(self.at(path), mode)

    def create(self, path, mode, fi=None):
        return os.open(self.at(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def utimens(self, path, times=None):
        os.utime(self.at(path), times)

    def release(self, path, fh):
        os.close(fh)

    def rename(self, old, new):
        self.log.write(f"RENAME {old} {new}\n"), os.rename(self.at(old), self.at(new))

    def fsync(self, path, datasync, fh):
        self.log.write(f"FSYNC {path}\n"), os.fsync(fh)

    def fsyncdir(self, path, datasync, fh):
        self.log.write(f"FSYNCDIR {path}\n")


fuse.FUSE(LoggingFs(sys.argv[1], sys.argv[3]), sys.argv[2], foreground=True, nothreads=True)
