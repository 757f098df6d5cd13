"""The 32-bit Windows program where the kernel runs no 32-bit code: the
32-bit Wine loader runs through qemu-user (fetched by
scripts/install-deps.sh test into build/tools/), which a binfmt_misc instance
private to a new user and mount namespace hands every i386 ELF file to.
Nothing changes machine-wide: other processes, and other test runs, never
see the registration. Wine's server and its 64-bit services stay native, in
a 64-bit prefix; only the 32-bit programs are emulated."""

import os
import subprocess
import sys

REPOSITORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
QEMU = os.path.abspath(os.path.join(REPOSITORY, "build", "tools", "qemu-user",
                                    "usr", "bin", "qemu-i386"))
LOADER32 = "/usr/lib/wine/wine"
INSIDE = "DIGESTBOX_QEMU32"  # set in the namespace, for the harness's children
# Set to 1, the 32-bit runs go through qemu even where the kernel runs 32-bit
# code, so that this way is tried on machines that do not need it.
FORCED = "DIGESTBOX_EMULATE32"

# An i386 ELF executable or shared object, as qemu's own binfmt table has it.
MAGIC = (r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00"
         r"\x03\x00")
MASK = (r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff"
        r"\xfe\xff\xff\xff")
# F: qemu is opened at registration, so it runs whatever the namespace sees.
REGISTER = ":qemu-i386:M::%s:%s:%s:F" % (MAGIC, MASK, QEMU)
SCRIPT = ("mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && "
          "printf %s \"$1\" > /proc/sys/fs/binfmt_misc/register && "
          "shift && exec \"$@\"")


def emulated():
    """True inside the namespace: 32-bit code runs, but only through qemu."""
    return os.environ.get(INSIDE) == "1"


def native():
    if os.environ.get(FORCED) == "1":
        return False
    try:
        return subprocess.run([LOADER32, "--version"],
                              capture_output=True).returncode == 0
    except OSError:
        return False


def _in_namespace(command):
    # The caller maps to root inside: Wine refuses a prefix whose owner is
    # not the user it runs as, and only root may mount binfmt_misc.
    return ["unshare", "--user", "--map-root-user", "--mount",
            "sh", "-c", SCRIPT, "sh", REGISTER] + command


def why_not():
    """Why 32-bit Wine cannot run here, natively or through qemu; None
    where it can."""
    if not os.path.exists(LOADER32):
        return "wine32 is not installed (scripts/install-deps.sh test installs it)"
    if native() or emulated():
        return None
    if not os.path.exists(QEMU):
        return ("this kernel runs no 32-bit code and qemu-user was not "
                "fetched (scripts/install-deps.sh test fetches it)")
    probe = subprocess.run(_in_namespace([LOADER32, "--version"]),
                           capture_output=True, text=True)
    if probe.returncode != 0:
        return ("this kernel runs no 32-bit code, and qemu-user cannot be "
                "given it in a namespace of our own (user namespaces or a "
                "private binfmt_misc refused, Linux 6.7 or later needed): "
                + (probe.stderr.strip().splitlines() or ["?"])[-1])
    return None


def run_inside():
    """Runs this Python module again inside the namespace, where the kernel
    runs no 32-bit code, and returns its exit status; None where 32-bit code
    runs natively or this is the namespace already."""
    if native() or emulated():
        return None
    command = [sys.executable, "-m", sys.modules["__main__"].__spec__.name]
    env = dict(os.environ, **{INSIDE: "1"})
    return subprocess.run(_in_namespace(command + sys.argv[1:]),
                          env=env).returncode
