#!/usr/bin/python3
"""A file system that shows a folder read-only and holds every open() while the folder holds a
file named .stalled, as a network file system that stops answering does. For every user:
    stalling_fs.py <folder> <mount point>        (root; runs until unmounted)
"""
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class Stalling(Operations):
    def __init__(self, folder):
        self.folder = folder

    def _path(self, path):
        return os.path.join(self.folder, path.lstrip("/"))

    def getattr(self, path, fh=None):
        try:
            status = os.lstat(self._path(path))
        except OSError as error:
            raise FuseOSError(error.errno)
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime", "st_mtime",
                "st_ctime")
        return {key: getattr(status, key) for key in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        while os.path.exists(os.path.join(self.folder, ".stalled")):
            time.sleep(0.01)
        return os.open(self._path(path), os.O_RDONLY)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    FUSE(Stalling(sys.argv[1]), sys.argv[2], foreground=True, allow_other=True, ro=True)
