"""digestbox in GNOME Files (Nautilus): an entry in the menu of a folder's
background and of a folder itself that starts digestbox in that folder,
with no terminal, so that its boxes come as dialogs. Hold SHIFT (MD5) or
SHIFT+CTRL (SHA-1) while choosing it to create digest files."""

import subprocess

# The installed program by its absolute path, filled in by CMake: looked up
# by name after the change of folder, a relative entry in PATH would run a
# "digestbox" planted in the folder chosen.
PROGRAM = "@DIGESTBOX_PROGRAM@"

from gi.repository import GObject, Nautilus


def _start_in(folder):
    location = folder.get_location()
    path = location.get_path() if location is not None else None
    if path is None:  # a remote place: digestbox works on local folders
        return
    subprocess.Popen([PROGRAM], cwd=path, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True)


def _item(name, folder):
    item = Nautilus.MenuItem(name=name, label="digestbox",
                             tip="Create or check MD5/SHA-1 digest files here",
                             icon="digestbox")
    item.connect("activate", lambda _item: _start_in(folder))
    return item


class DigestboxMenu(GObject.GObject, Nautilus.MenuProvider):
    # nautilus-python 4 passes (folder) and (files); earlier versions put
    # the window first.
    def get_background_items(self, *args):
        folder = args[-1]
        if folder.get_location() is None or folder.get_location().get_path() is None:
            return []
        return [_item("Digestbox::Background", folder)]

    def get_file_items(self, *args):
        files = args[-1]
        if len(files) != 1 or not files[0].is_directory():
            return []
        return [_item("Digestbox::Folder", files[0])]
