"""What users set on a digest file, kept when creation writes it again: on
ext4 (tmpfs keeps no user.* attributes), by root, and by two unprivileged
users of one team group (root ignores the sticky bit and permissions).
Skipped, saying why, without root, loop devices, useradd or setpriv."""

import grp
import hashlib
import os
import pwd
import shutil
import subprocess

from tests import texts

DONE = "[情報] %s\n%s\n" % (texts.DONE_CAPTION, texts.DONE)
ALICE, BOB, TEAM = "digestbox-alice", "digestbox-bob", "digestbox-team"
OLD = b"0123456789abcdef0123456789abcdef *data.txt\n"
RECORD = hashlib.md5(b"data\n").hexdigest().encode() + b" *data.txt\n"


def _quiet(argv):
    return subprocess.run(argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def _folder(root, name, uid, gid, mode):
    path = os.path.join(root, name)
    os.mkdir(path)
    os.chown(path, uid, gid)
    os.chmod(path, mode)
    return path


def _old(folder, uid, gid, mode):
    """data.txt and its old digest file, both uid:gid with `mode`."""
    for name, data in (("data.txt", b"data\n"), ("data.txt.md5", OLD)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        os.chown(f.name, uid, gid)
        os.chmod(f.name, mode)
    return f.name


def _create(run, folder, user=None):
    """The last box of a creation, as `user` (setpriv) or root."""
    groups = ["--clear-groups"] if isinstance(user, int) else ["--init-groups"]
    command = run.command if user is None else [
        "setpriv", "--reuid=%s" % user, "--regid=%s" % user] + groups + [
        "--"] + run.command
    boxes, _ = run.at_terminal_command(command, folder, "shift", ["y"])
    return boxes[-1][0] if boxes else ""


def _held(path):
    """What a replacement must keep, and whether the file is still the one
    that was there (written in place)."""
    info = os.lstat(path)
    with open(path, "rb") as f:
        data = f.read()
    names = sorted(n for n in os.listxattr(path) if not n.startswith("security."))
    return (data, info.st_uid, info.st_gid, info.st_mode,
            [(n, os.getxattr(path, n)) for n in names]), info.st_ino


def _no_strays(folder):
    return not [n for n in os.listdir(folder) if n.startswith(".~digestbox-")]


def as_root(run, mounted):
    """Another owner's 0640 file with a user xattr and an ACL: replaced
    whole (a new inode), owner, group, mode, xattr and ACL kept."""
    folder = _folder(mounted, "root", 0, 0, 0o755)
    path = _old(folder, 4242, 4343, 0o640)
    os.setxattr(path, "user.note", b"kept")
    subprocess.run(["setfacl", "-m", "u:4444:rw", path], check=True)
    (data, *kept), inode = _held(path)
    box = _create(run, folder)
    (data, *now), new_inode = _held(path)
    run.checks.check("root: owner, group, mode, user xattr and ACL kept, "
                     "the file replaced whole",
                     box == DONE and data == RECORD and now == kept and
                     len(kept[3]) == 2 and new_inode != inode, (box, kept, now))
    # New files here get root:root 0644: what matches is left as it is,
    # and a group or mode that differs is still given back.
    folder = _folder(mounted, "several", 0, 0, 0o755)
    wanted = {"a": (0, 0o644), "b": (4343, 0o644), "c": (0, 0o600)}
    for name, (gid, mode) in wanted.items():
        for path, data in ((name, b"data\n"), (name + ".md5", OLD)):
            with open(os.path.join(folder, path), "wb") as f:
                f.write(data)
        os.chown(f.name, 0, gid)
        os.chmod(f.name, mode)
    box = _create(run, folder)
    now = {n: _held(os.path.join(folder, n + ".md5"))[0] for n in wanted}
    run.checks.check("root: one batch keeps each file's group and mode, "
                     "whether or not a new file has them",
                     box == DONE and all(
                         now[n][:4] == (RECORD.replace(b"data.txt", n.encode()),
                                        0, gid, 0o100000 | mode)
                         for n, (gid, mode) in wanted.items()), (box, now))
    folder = _folder(mounted, "inherit", 0, 0, 0o755)
    path = _old(folder, 0, 0, 0o600)
    subprocess.run(["setfacl", "-d", "-m", "u:4444:rw", folder], check=True)
    (_, *kept), _ = _held(path)
    box = _create(run, folder)
    run.checks.check("a folder's default ACL is not put on a digest file "
                     "that had none", box == DONE and
                     list(_held(path)[0][1:]) == kept, (kept, _held(path)))


def planted(run, mounted):
    """An empty 0666 digest file that uid 4242 planted beside a private file
    in root's sticky folder: refused, by root and by uid 4343 (numeric ids,
    no accounts), and left as it was. In root's own sticky folder a file of
    root's is still written in place by 4343."""
    for who in (None, 4343):
        folder = _folder(mounted, "planted-%s" % who, 0, 0, 0o1777)
        _old(folder, who or 0, who or 0, 0o600)
        path = os.path.join(folder, "data.txt.md5")
        with open(path, "wb"):
            pass
        os.chown(path, 4242, 4242)
        os.chmod(path, 0o666)
        (_, *kept), inode = _held(path)
        box = _create(run, folder, who)
        run.checks.check("sticky folder, run by %s: a planted digest file is "
                         "neither replaced nor written: Permission denied"
                         % (who or "root"), "Permission denied" in box and
                         _held(path) == ((b"", *kept), inode) and
                         _no_strays(folder), (box, _held(path)))
    folder = _folder(mounted, "roots", 0, 0, 0o1777)
    path = _old(folder, 0, 0, 0o666)
    os.chown(os.path.join(folder, "data.txt"), 4343, 4343)
    (_, *kept), inode = _held(path)
    box = _create(run, folder, 4343)
    run.checks.check("sticky folder: the folder owner's digest file written "
                     "in place by another user",
                     box == DONE and _held(path) == ((RECORD, *kept), inode),
                     (box, _held(path)))


def shared(run, mounted, alice, bob, team):
    """Two users: bob's files in a setgid team folder, recreated by alice,
    written in place, still bob's; bob's next creation works; a link in a
    sticky folder is never written through."""
    linked = _folder(mounted, "linked", 0, 0, 0o1777)
    link, victim = _old(linked, bob, bob, 0o644), os.path.join(mounted, "victim")
    os.rename(link, victim)
    os.symlink(victim, link)
    os.lchown(link, bob, bob)
    box = _create(run, linked, ALICE)
    run.checks.check("sticky folder: bob's link is neither replaced nor "
                     "written through: Operation not permitted",
                     "Operation not permitted" in box and os.path.islink(link) and
                     _held(victim)[0][0] == OLD and _no_strays(linked), box)
    foreign = _folder(mounted, "foreign", bob, bob, 0o755)
    path = _old(foreign, bob, 4343, 0o640)  # a group bob is not in
    (_, *kept), inode = _held(path)
    box = _create(run, foreign, BOB)
    (data, *now), same = _held(path)
    run.checks.check("bob's own file of a group he cannot give: written in "
                     "place, the group kept", box == DONE and data == RECORD and
                     now == kept and same == inode, (box, kept, now))
    folder = _folder(mounted, "team", 0, team, 0o2775)
    path = _old(folder, bob, team, 0o664)
    (_, *kept), inode = _held(path)
    mask = os.umask(0o002)
    try:
        by_alice = _create(run, folder, ALICE)
        (data, *now), same = _held(path)
        by_bob = _create(run, folder, BOB)
    finally:
        os.umask(mask)
    (again, *later), new_inode = _held(path)
    run.checks.check("setgid team folder: bob's file stays bob:team 0664 "
                     "after alice's creation, and bob's next one works",
                     by_alice == DONE and data == RECORD and now == kept and
                     same == inode and by_bob == DONE and again == RECORD and
                     later == kept and new_inode != inode and
                     _no_strays(folder), (by_alice, by_bob, kept, now, later))


def kept_attributes(run):
    if os.geteuid() != 0 or not os.path.exists("/dev/loop-control"):
        print("[SKIP] what users set: needs root and loop devices for ext4")
        return
    image, mounted = os.path.join(run.root, "attrs.img"), os.path.join(run.root, "attrs")
    os.mkdir(mounted)
    with open(image, "wb") as f:
        f.truncate(32 << 20)
    if not (_quiet(["mkfs.ext4", "-q", "-F", image]) and
            _quiet(["mount", "-o", "loop", image, mounted])):
        print("[SKIP] what users set: no ext4 loop image could be mounted")
        return
    os.chmod(run.root, 0o755)  # the users reach the mounted folders
    try:
        as_root(run, mounted)
        if not shutil.which("setpriv"):
            print("[SKIP] what users set, by other users: no setpriv")
            return
        planted(run, mounted)
        if not shutil.which("useradd"):
            print("[SKIP] what users set, by two users: no useradd")
            return
        _quiet(["groupadd", TEAM])
        for user in (ALICE, BOB):
            _quiet(["useradd", "-M", "-G", TEAM, "-s", "/usr/sbin/nologin", user])
        shared(run, mounted, pwd.getpwnam(ALICE).pw_uid,
               pwd.getpwnam(BOB).pw_uid, grp.getgrnam(TEAM).gr_gid)
    finally:
        for user in (ALICE, BOB):
            _quiet(["userdel", user])
        _quiet(["groupdel", TEAM])
        _quiet(["umount", mounted])
        os.remove(image)


CASES = [kept_attributes]
