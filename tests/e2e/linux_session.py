"""Runs the Linux program as a whole process, as a user at a terminal would:
SHIFT/CTRL held on an X server of our own (Xvfb and xdotool), the boxes read
from a pseudo-terminal and answered there. Used by the end-to-end tests and
the benchmark."""

import os
import pty
import select
import signal
import subprocess
import time

PROMPTS = ("(y/n) ", "[Enter] ")


class Display:
    """An Xvfb display; keys are held by an xdotool process while it lives."""

    def __init__(self):
        self.xvfb = None
        self.name = None
        self.holder = None
        for number in range(141, 190):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "640x480x24",
                 "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.8)
            if self.xvfb.poll() is None:
                self.name = ":%d" % number
                return
        raise RuntimeError("no free display for Xvfb")

    def hold(self, keys):
        self.release()
        names = {"shift": ["shift"], "ctrl": ["ctrl"],
                 "shift+ctrl": ["shift", "ctrl"]}.get(keys, [])
        if not names:
            return
        # XTest keys last only while the client that pressed them is there.
        self.holder = subprocess.Popen(
            ["xdotool", "keydown", "+".join(names), "sleep", "600"],
            env=dict(os.environ, DISPLAY=self.name))
        time.sleep(0.3)

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


def _environment(display):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
    if display:
        env["DISPLAY"] = display.name
    return env


def run_at_terminal(command, folder, display=None, keys="none", answers=(),
                    timeout=600):
    """Returns (boxes, exit code): each box is (text shown, answer given)."""
    if display:
        display.hold(keys)
    env = _environment(display)
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execvpe(command[0], command, env)
    answers = list(answers)
    output = b""
    boxes = []
    deadline = time.time() + timeout
    status = None
    echo = ""  # the terminal echoes each answer
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
                text = output.decode("utf-8", "replace").replace("\r\n", "\n")
                for prompt in PROMPTS:
                    if text.endswith(prompt):
                        if display:
                            display.release()  # read once, at start
                        answer = "" if prompt == "[Enter] " else (
                            answers.pop(0) if answers else "n")
                        shown = text[:-len(prompt)]
                        if echo and shown.startswith(echo):
                            shown = shown[len(echo):]
                        boxes.append((shown.lstrip("\n"), answer))
                        echo = answer + "\n"
                        output = b""
                        os.write(fd, (answer + "\n").encode())
                        break
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
        else:
            os.kill(pid, signal.SIGKILL)
    finally:
        if display:
            display.release()
        if status is None:
            _, status = os.waitpid(pid, 0)
        os.close(fd)
    return boxes, os.waitstatus_to_exitcode(status)


def run_without_terminal(command, folder):
    """No terminal at all: boxes go to standard error and Yes/No is No."""
    result = subprocess.run(command, cwd=folder, env=_environment(None),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True,
                            timeout=600)
    return result.stderr.decode("utf-8", "replace"), result.returncode
