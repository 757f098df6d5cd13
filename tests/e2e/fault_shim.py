"""The interposed libc the fault cases run the Linux program over: it lists
the pass's calls of a digest file's writing, fails or kills at one of
them, or swaps a name for a link as a racing reader would."""

import os
import subprocess


# One CPU: no worker is started, so the pass's calls come in one order.
ONE_CPU = ["taskset", "-c", "0"]


# The libc calls behind those system calls, counted and failed on the pass's
# thread only (strace counts per thread, and cannot tell one thread from
# another): LD_PRELOAD of this, with STEPS_LOG to list them, or INJECT_CALL,
# INJECT_NTH and INJECT_FAULT (eio, emfile, kill) to fail one; with
# INJECT_PATH, the nth call on that path only. NO_TMPFILE refuses unnamed
# files on every thread, as vfat and FUSE file systems do. SWAP_NAME and
# SWAP_FROM rename SWAP_FROM over SWAP_NAME right after SWAP_NAME is first
# asked with lstat, as someone racing the reader would. INJECT_FAULT=hang
# never returns, as a flush on a file system that does not answer.
SHIM = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
static int counts[16];
static int Step(int id, const char* call, const char* path) {
  if (syscall(SYS_gettid) == getpid()) return 0;
  int n = __atomic_add_fetch(&counts[id], 1, __ATOMIC_SEQ_CST);
  const char* log = getenv("STEPS_LOG");
  if (log) {
    char line[600];
    int size = snprintf(line, sizeof line, "%s %d %s\n", call, n,
                        path ? path : "");
    int fd = syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    syscall(SYS_write, fd, line, size);
    syscall(SYS_close, fd);
  }
  const char* inject = getenv("INJECT_CALL");
  if (!inject || strcmp(inject, call) != 0) return 0;
  const char* only = getenv("INJECT_PATH");
  static int matched;
  if (only && (!path || strcmp(only, path) != 0)) return 0;
  if (only) n = __atomic_add_fetch(&matched, 1, __ATOMIC_SEQ_CST);
  if (atoi(getenv("INJECT_NTH")) != n) return 0;
  const char* fault = getenv("INJECT_FAULT");
  if (strcmp(fault, "kill") == 0) syscall(SYS_kill, getpid(), SIGKILL);
  while (strcmp(fault, "hang") == 0) pause();
  errno = strcmp(fault, "emfile") == 0 ? EMFILE : EIO;
  return 1;
}
#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))
int open(const char* p, int f, ...) {
  va_list a; va_start(a, f); mode_t m = va_arg(a, int); va_end(a);
  if ((f & O_TMPFILE) == O_TMPFILE && getenv("NO_TMPFILE")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return Step(1, "openat", p) ? -1 : REAL(open)(p, f, m);
}
int openat(int d, const char* p, int f, ...) {
  va_list a; va_start(a, f); mode_t m = va_arg(a, int); va_end(a);
  return Step(1, "openat", p) ? -1 : REAL(openat)(d, p, f, m);
}
int fstat(int fd, struct stat* s) { return Step(0, "newfstatat", 0) ? -1 : REAL(fstat)(fd, s); }
int fstatat(int d, const char* p, struct stat* s, int f) {
  return Step(0, "newfstatat", p) ? -1 : REAL(fstatat)(d, p, s, f);
}
static void Swap(const char* p) {
  const char* swap = getenv("SWAP_NAME");
  static int swapped;
  if (swap && strcmp(swap, p) == 0 && !__atomic_exchange_n(&swapped, 1, __ATOMIC_SEQ_CST))
    REAL(rename)(getenv("SWAP_FROM"), p);
}
int lstat(const char* p, struct stat* s) {
  if (Step(0, "newfstatat", p)) return -1;
  int r = REAL(lstat)(p, s);
  Swap(p);
  return r;
}
int stat(const char* p, struct stat* s) {
  int r = REAL(stat)(p, s);
  Swap(p);
  return r;
}
ssize_t write(int fd, const void* b, size_t n) { return Step(2, "write", 0) ? -1 : REAL(write)(fd, b, n); }
int close(int fd) { return Step(3, "close", 0) ? -1 : REAL(close)(fd); }
int linkat(int a, const char* p, int b, const char* q, int f) {
  return Step(4, "linkat", q) ? -1 : REAL(linkat)(a, p, b, q, f);
}
int fsync(int fd) { return Step(5, "fsync", 0) ? -1 : REAL(fsync)(fd); }
int rename(const char* p, const char* q) { return Step(6, "rename", q) ? -1 : REAL(rename)(p, q); }
int syncfs(int fd) { return Step(7, "syncfs", 0) ? -1 : REAL(syncfs)(fd); }
"""


def library(run):
    library = os.path.join(run.root, "steps.so")
    if not os.path.exists(library):
        source = os.path.join(run.root, "steps.c")
        with open(source, "w") as f:
            f.write(SHIM)
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", library, source,
                        "-ldl"], check=True)
    return library


def with_shim(run, **settings):
    """The program run on one CPU with the shim and `settings` in its
    environment."""
    return ONE_CPU + ["env", "LD_PRELOAD=" + library(run)] + [
        "%s=%s" % item for item in settings.items()] + run.command
