"""Runs the Linux program as a whole process, as a user at a terminal would:
SHIFT/CTRL held on an X server of our own (Xvfb and xdotool), the boxes read
from a pseudo-terminal and answered there. Used by the end-to-end tests and
the benchmark."""

import os
import platform
import pty
import select
import signal
import subprocess
import time

PROMPTS = ("(y/n) ", "[Enter] ")


def _wait_until_asleep(holder):
    """Until xdotool sleeps for good, its keys pressed: a fixed pause was
    too short on a busy machine, and the program then saw no key. Its
    system call is read from /proc (clock_nanosleep or nanosleep) three
    times in a row; where that cannot be read, a pause has to do. Returns
    at once where xdotool has ended."""
    pid = holder.pid
    sleeps = {"x86_64": ("35", "230"), "aarch64": ("101", "115"),
              "i686": ("162", "265")}.get(platform.machine())
    if not sleeps:
        time.sleep(0.3)
        return
    asleep = 0
    deadline = time.monotonic() + 10
    while asleep < 3 and time.monotonic() < deadline:
        if holder.poll() is not None:
            return
        try:
            with open("/proc/%d/syscall" % pid) as f:
                call = f.read().split(" ", 1)[0]
        except OSError:
            time.sleep(0.3)
            return
        asleep = asleep + 1 if call in sleeps else 0
        time.sleep(0.025)
    time.sleep(0.05)  # for the X server to take the keys in


class Display:
    """An Xvfb display; keys are held by an xdotool process while it lives."""

    def __init__(self, screen="640x480x24"):
        self.xvfb = None
        self.name = None
        self.holder = None
        # Xvfb takes a free display and writes its number once it accepts
        # clients.
        ready, told = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(told), "-screen", "0", screen,
             "-nolisten", "tcp"], pass_fds=(told,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(told)
        with os.fdopen(ready) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def hold(self, keys):
        self.release()
        names = {"shift": ["shift"], "ctrl": ["ctrl"],
                 "shift+ctrl": ["shift", "ctrl"]}.get(keys, [])
        if not names:
            return
        # XTest keys last until the server resets, once its last client,
        # the holder, is gone. A holder that connects during that reset is
        # refused ("Can't open display") and ends: another is started.
        for _ in range(5):
            self.holder = subprocess.Popen(
                ["xdotool", "keydown", "+".join(names), "sleep", "600"],
                env=dict(os.environ, DISPLAY=self.name))
            _wait_until_asleep(self.holder)
            if self.holder.poll() is None:
                return
            time.sleep(0.1)
        raise RuntimeError("xdotool could not hold %s on %s" % (keys, self.name))

    def release(self):
        if self.holder:
            self.holder.kill()
            self.holder.wait()
            self.holder = None

    def close(self):
        self.release()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


def _peak_kib(pid):
    """VmHWM of a live process: its own peak, unlike ru_maxrss, which keeps
    the high-water mark of the forked parent from before exec."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def peak_of_running(process, program_name):
    """Polls a child's VmHWM until it exits; only samples taken after its
    exec of `program_name` count."""
    peak = 0
    while process.poll() is None:
        try:
            exe = os.readlink("/proc/%d/exe" % process.pid)
        except OSError:
            exe = ""
        if os.path.basename(exe) == program_name:
            peak = max(peak, _peak_kib(process.pid))
        time.sleep(0.002)
    return peak


def _environment(display):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
    if display:
        env["DISPLAY"] = display.name
    return env


def run_at_terminal(command, folder, display=None, keys="none", answers=(),
                    timeout=600, usage=None, interrupt_on=None):
    """Returns (boxes, exit code): each box is (text shown, answer given).
    Ctrl+C is typed once the output holds `interrupt_on` (bytes).
    When `usage` is a list, a dict is appended to it: "work", the seconds the
    program ran less the time it waited for answers, and "peak_kib", its
    peak resident memory as the kernel had it at its last box."""
    if display:
        display.hold(keys)
    env = _environment(display)
    started = time.perf_counter()
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execvpe(command[0], command, env)
    answers = list(answers)
    output = b""
    boxes = []
    deadline = time.time() + timeout
    status = None
    done = 0
    rusage = None
    echo = ""  # the terminal echoes each answer
    waited = 0.0
    peak_kib = 0
    try:
        while time.time() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(fd, 1 << 16)
                except OSError:
                    chunk = b""
                if not chunk:
                    break
                output += chunk
                if interrupt_on and interrupt_on in output:
                    os.write(fd, b"\x03")
                    interrupt_on = None
                for prompt in PROMPTS:
                    # Only the end is looked at: a report may be megabytes.
                    if output[-64:].replace(b"\r\n", b"\n").endswith(prompt.encode()):
                        prompted = time.perf_counter()
                        peak_kib = max(peak_kib, _peak_kib(pid))
                        if display:
                            display.release()  # read once, at start
                        answer = "" if prompt == "[Enter] " else (
                            answers.pop(0) if answers else "n")
                        text = output.decode("utf-8", "replace").replace("\r\n", "\n")
                        shown = text[:-len(prompt)]
                        if echo and shown.startswith(echo):
                            shown = shown[len(echo):]
                        boxes.append((shown.lstrip("\n"), answer))
                        echo = answer + "\n"
                        output = b""
                        waited += time.perf_counter() - prompted
                        os.write(fd, (answer + "\n").encode())
                        break
            done, status, rusage = os.wait4(pid, os.WNOHANG)
            if done:
                break
        else:
            os.kill(pid, signal.SIGKILL)
    finally:
        if display:
            display.release()
        if status is None or not done:
            _, status, rusage = os.wait4(pid, 0)
        os.close(fd)
    if usage is not None:
        usage.append({"work": time.perf_counter() - started - waited,
                      "peak_kib": peak_kib})
    return boxes, os.waitstatus_to_exitcode(status)


def plant_module(folder, marker):
    """A dialog module that anyone could leave in a folder: a real shared
    object whose loading creates `marker`."""
    source = os.path.join(folder, "planted.c")
    with open(source, "w") as f:
        f.write('#include <fcntl.h>\n#include <unistd.h>\n'
                '__attribute__((constructor)) static void planted(void) {\n'
                '  close(open("%s", O_CREAT | O_WRONLY, 0644));\n}\n'
                'int digestbox_dialogs_init(void) { return 1; }\n'
                'int digestbox_dialogs_show(const char* t, const char* x, unsigned s)'
                ' { return 1; }\n' % marker)
    subprocess.run(["cc", "-shared", "-fPIC", "-o",
                    os.path.join(folder, "gtk-dialogs.so"), source], check=True)
    os.remove(source)


def run_without_terminal(command, folder, display_name=None):
    """No terminal at all: boxes go to standard error and Yes/No is No."""
    env = _environment(None)
    if display_name:
        env["DISPLAY"] = display_name
    result = subprocess.run(command, cwd=folder, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True,
                            timeout=600)
    return result.stderr.decode("utf-8", "replace"), result.returncode
