"""A file whose READ is never answered, as on a network share that hangs:
a FUSE file system served over raw /dev/fuse (no library), holding one
file, "stuck.bin". Lookups, attributes, opens and statfs are answered;
reads, and the listing of its folder, are not, until the server ends."""

import ctypes
import errno
import os
import struct

LOOKUP, FORGET, GETATTR, OPEN, READ, STATFS, RELEASE = 1, 2, 3, 14, 15, 17, 18
FLUSH, INIT, OPENDIR, READDIR, RELEASEDIR = 25, 26, 27, 28, 29
INTERRUPT, DESTROY, BATCH_FORGET, READDIRPLUS = 36, 38, 42, 44
NO_REPLY = (FORGET, READ, READDIR, READDIRPLUS, INTERRUPT, BATCH_FORGET)
IN_HEADER = struct.Struct("<IIQQIIIHH")  # len, opcode, unique, node, ...
OUT_HEADER = struct.Struct("<IiQ")       # len, error, unique
NAME = b"stuck.bin"
SIZE = 64 << 20


def _attr(node):
    """fuse_attr: the root folder (1) or the file (2), owned by root."""
    mode, size, links = (0o040755, 0, 2) if node == 1 else (0o100644, SIZE, 1)
    return struct.pack("<QQQQQQIIIIIIIIII", node, size, (size + 511) // 512,
                       0, 0, 0, 0, 0, 0, mode, links, 0, 0, 0, 4096, 0)


def _answer(opcode, node, body):
    """(error, payload) for one request."""
    if opcode == INIT:
        major, minor = struct.unpack_from("<II", body)
        # fuse_init_out of 7.31: major, minor, readahead, flags,
        # max_background, congestion, max_write, time_gran, max_pages,
        # map_alignment, flags2, unused[7].
        return 0, struct.pack("<IIIIHHIIHHI7I", 7, min(minor, 31), 0, 0, 1, 1,
                              4096, 1, 1, 0, 0, *([0] * 7))
    if opcode == LOOKUP:
        if node != 1 or body.rstrip(b"\0") != NAME:
            return -errno.ENOENT, b""
        return 0, struct.pack("<QQQQII", 2, 0, 1, 1, 0, 0) + _attr(2)
    if opcode == GETATTR:
        return 0, struct.pack("<QII", 1, 0, 0) + _attr(node)
    if opcode in (OPEN, OPENDIR):
        return 0, struct.pack("<QII", 1, 0, 0)
    if opcode == STATFS:
        return 0, struct.pack("<QQQQQIIII6I", 1 << 20, 0, 0, 2, 0, 4096, 255,
                              4096, 0, *([0] * 6))
    if opcode in (RELEASE, RELEASEDIR, FLUSH):
        return 0, b""
    return -errno.ENOSYS, b""


def _serve(device):
    while True:
        try:
            request = os.read(device, 1 << 20)
        except OSError:
            return  # unmounted
        length, opcode, unique, node = IN_HEADER.unpack_from(request)[:4]
        if opcode == DESTROY:
            return
        if opcode in NO_REPLY:
            continue  # a READ stays unanswered for good
        error, payload = _answer(opcode, node, request[IN_HEADER.size:length])
        os.write(device, OUT_HEADER.pack(OUT_HEADER.size + len(payload), error,
                                         unique) + payload)


def mount(folder):
    """Mounts the file system on `folder` (made here) and serves it from a
    child process: its pid, or a reason why there can be none here."""
    if not os.path.exists("/dev/fuse"):
        return None, "no /dev/fuse"
    os.mkdir(folder)
    device = os.open("/dev/fuse", os.O_RDWR)
    libc = ctypes.CDLL(None, use_errno=True)
    options = "fd=%d,rootmode=40000,user_id=0,group_id=0" % device
    if libc.mount(b"stuck", folder.encode(), b"fuse", 0x6,  # nosuid, nodev
                  options.encode()) != 0:
        os.close(device)
        return None, "mount: " + os.strerror(ctypes.get_errno())
    pid = os.fork()
    if pid == 0:
        try:
            _serve(device)
        finally:
            os._exit(0)
    os.close(device)
    return pid, ""


def unmount(folder, pid):
    """Detaches the mount; ending the server fails the unanswered reads."""
    ctypes.CDLL(None).umount2(folder.encode(), 2)  # MNT_DETACH
    os.kill(pid, 9)
    os.waitpid(pid, 0)
