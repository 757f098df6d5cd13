"""A disk whose writes and flushes are logged in order: one file served by a
small FUSE server on raw /dev/fuse (no library), for a loop device to sit
on where device-mapper's log-writes target is missing. Writes reach the
server one by one (no write-back cache, direct I/O), so a flush covers
exactly the writes logged before it."""

import ctypes
import errno
import os
import struct
import threading

IN_HEADER = struct.Struct("<IIQQIIII")
OUT_HEADER = struct.Struct("<IiQ")
ATTR = struct.Struct("<QQQQQQIIIIIIIIII")
LOOKUP, FORGET, GETATTR, SETATTR, OPEN, READ, WRITE = 1, 2, 3, 4, 14, 15, 16
STATFS, RELEASE, FSYNC, FLUSH, INIT, INTERRUPT = 17, 18, 20, 25, 26, 36
DESTROY, BATCH_FORGET = 38, 42
NO_REPLY = (FORGET, INTERRUPT, BATCH_FORGET)
ROOT, DISK = 1, 2
FOPEN_DIRECT_IO = 1
MAX_WRITE = 128 * 1024


class BlockLog:
    """Serves `image` (its bytes, changed in place) as <mountpoint>/disk and
    keeps `log`: ("write", offset, data) and ("flush",) in arrival order."""

    def __init__(self, image, mountpoint):
        self.image, self.mountpoint = image, mountpoint
        self.log, self.lock = [], threading.Lock()
        self.fd = os.open("/dev/fuse", os.O_RDWR)
        libc = ctypes.CDLL(None, use_errno=True)
        options = "fd=%d,rootmode=40000,user_id=0,group_id=0" % self.fd
        if libc.mount(b"blocklog", mountpoint.encode(), b"fuse", 0,
                      options.encode()) != 0:
            code = ctypes.get_errno()
            os.close(self.fd)
            raise OSError(code, os.strerror(code), mountpoint)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def path(self):
        return os.path.join(self.mountpoint, "disk")

    def mark(self):
        with self.lock:
            return len(self.log)

    def _attr(self, node):
        if node == ROOT:
            return ATTR.pack(ROOT, 0, 0, 0, 0, 0, 0, 0, 0, 0o40755, 2, 0, 0, 0,
                             4096, 0)
        size = len(self.image)
        return ATTR.pack(DISK, size, size // 512, 0, 0, 0, 0, 0, 0, 0o100600,
                         1, 0, 0, 0, 4096, 0)

    def _answer(self, opcode, node, body):
        """(error, reply body) for one request."""
        if opcode == INIT:
            major, minor = struct.unpack_from("<II", body)
            return 0, struct.pack("<IIIIHHIIHHI28x", 7, min(minor, 31),
                                  MAX_WRITE, 0, 16, 12, MAX_WRITE, 1, 32, 0, 0)
        if opcode == LOOKUP:
            if bytes(body).rstrip(b"\0") != b"disk":
                return -errno.ENOENT, b""
            return 0, struct.pack("<QQQQII", DISK, 0, 3600, 3600, 0, 0) + \
                self._attr(DISK)
        if opcode in (GETATTR, SETATTR):
            return 0, struct.pack("<QII", 3600, 0, 0) + self._attr(node)
        if opcode == OPEN:
            return 0, struct.pack("<QII", 1, FOPEN_DIRECT_IO, 0)
        if opcode == READ:
            _, offset, size = struct.unpack_from("<QQI", body)
            return 0, bytes(self.image[offset:offset + size])
        if opcode == WRITE:
            _, offset, size = struct.unpack_from("<QQI", body)
            data = bytes(body[40:40 + size])
            with self.lock:
                self.image[offset:offset + size] = data
                self.log.append(("write", offset, data))
            return 0, struct.pack("<II", size, 0)
        if opcode == FSYNC:
            with self.lock:
                self.log.append(("flush",))
            return 0, b""
        if opcode in (FLUSH, RELEASE, DESTROY):
            return 0, b""
        if opcode == STATFS:
            return 0, struct.pack("<QQQQQIII28x", 1, 0, 0, 1, 0, 4096, 255,
                                  4096)
        return -errno.ENOSYS, b""

    def _serve(self):
        while True:
            try:
                request = os.read(self.fd, MAX_WRITE + 65536)
            except OSError as error:
                if error.errno in (errno.EINTR, errno.ENOENT, errno.EAGAIN):
                    continue
                return  # ENODEV: unmounted
            _, opcode, unique, node = IN_HEADER.unpack_from(request)[:4]
            if opcode in NO_REPLY:
                continue
            try:
                error, body = self._answer(
                    opcode, node, memoryview(request)[IN_HEADER.size:])
            except Exception:  # never leave the kernel waiting
                error, body = -errno.EIO, b""
            try:
                os.write(self.fd, OUT_HEADER.pack(OUT_HEADER.size + len(body),
                                                  error, unique) + body)
            except OSError:
                pass  # the request was interrupted meanwhile

    def close(self):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.umount2(self.mountpoint.encode(), 2)  # MNT_DETACH
        self.thread.join(5)
        os.close(self.fd)


def replay(base, log, upto):
    """The image as a disk that lost power after the first `upto` entries of
    `log`: those writes in order on `base`, nothing after."""
    image = bytearray(base)
    for entry in log[:upto]:
        if entry[0] == "write":
            image[entry[1]:entry[1] + len(entry[2])] = entry[2]
    return image
