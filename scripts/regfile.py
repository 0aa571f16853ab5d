"""Regedit files (UTF-16LE with BOM) of Uninstall entries: the one writer of the
demo's entries (demo/make-demo-registry.py) and the benchmark's (bench/make-registry.py)."""

UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write(path, root, entries):
    """Writes the entries, (key name, [(value name, text)], [(value name, number)]),
    under root's Uninstall key; empty texts are left out."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, texts, numbers in entries:
        lines.append("[%s\\%s\\%s]" % (root, UNINSTALL, key))
        lines += ["%s=%s" % (quote(name), quote(value)) for name, value in texts if value]
        lines += ["%s=dword:%08x" % (quote(name), number) for name, number in numbers]
        lines.append("")
    with open(path, "wb") as out:
        out.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
