"""Profile and raw-data helpers of the GAL family's data operations.

Called from the device runtime with the interpreter lock held. Every function
reports failure through its result (False or an empty list) and never writes
outside the file or folder it is given. No network access.

Profile ini files hold one "key=value" per line; lines starting with ";" or
"#" are comments and "[group]" lines name the group of the keys below them.
"""

import os
import xml.etree.ElementTree as ElementTree

_MAX_INI_BYTES = 1 << 20


def _read_ini(path):
    """Returns [(group, key, value)] of the ini file, or None when unreadable."""
    try:
        with open(path, "rb") as handle:
            data = handle.read(_MAX_INI_BYTES + 1)
    except OSError:
        return None
    if len(data) > _MAX_INI_BYTES:
        return None
    entries = []
    group = ""
    for line in data.decode("utf-8", "replace").splitlines():
        line = line.strip()
        if not line or line[0] in ";#":
            continue
        if line.startswith("[") and line.endswith("]"):
            group = line[1:-1].strip()
            continue
        key, sep, value = line.partition("=")
        if sep:
            entries.append((group, key.strip(), value.strip()))
    return entries


def _write_new(path, data):
    """Writes data to path without following a link placed there."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_NOFOLLOW", 0)
    fd = os.open(path, flags, 0o644)
    with os.fdopen(fd, "wb") as handle:
        handle.write(data)


def _profile_xml(entries):
    root = ElementTree.Element("Profile")
    groups = {}
    for group, key, value in entries:
        node = groups.get(group)
        if node is None:
            node = ElementTree.SubElement(root, "Group", name=group)
            groups[group] = node
        ElementTree.SubElement(node, "Item", key=key, value=value)
    return ElementTree.tostring(root, encoding="utf-8", xml_declaration=True)


def CreateProfileXml(iniPath, target):
    """Writes the profile ini at iniPath as XML to target; True when written."""
    entries = _read_ini(iniPath)
    if entries is None:
        return False
    try:
        _write_new(target, _profile_xml(entries))
    except OSError:
        return False
    return True


def CreateProfileIni(keys, values, iniPath):
    """Writes keys[i]=values[i] to iniPath; False for unequal or unsafe lists."""
    if len(keys) != len(values):
        return False
    lines = []
    for key, value in zip(keys, values):
        key, value = str(key), str(value)
        if not key or "=" in key or any(c in key + value for c in "\r\n"):
            return False
        lines.append(key + "=" + value)
    try:
        _write_new(iniPath, ("\n".join(lines) + "\n").encode("utf-8"))
    except OSError:
        return False
    return True


def ExportBdx(folder, model, versionText, pfreadIni, root):
    """Writes "export.ini" (model, version, device root) and, when the profile
    is readable, "profile.xml" into folder; returns the paths written."""
    if not os.path.isdir(folder) or os.path.islink(folder):
        return []
    written = []
    info = "[Export]\nModel=%s\nVersion=%s\nRoot=%s\n" % (
        " ".join(str(model).split()), " ".join(str(versionText).split()), " ".join(str(root).split()))
    try:
        path = os.path.join(folder, "export.ini")
        _write_new(path, info.encode("utf-8"))
        written.append(path)
        entries = _read_ini(pfreadIni)
        if entries is not None:
            path = os.path.join(folder, "profile.xml")
            _write_new(path, _profile_xml(entries))
            written.append(path)
    except OSError:
        pass
    return written
