#!/usr/bin/env python3
"""backports-source.py CODENAME: prints an apt source (deb822 form) for CODENAME-backports,
with the URIs and keyring of the machine's own source for CODENAME, read from its apt
configuration. Prints nothing and exits 1 when no such source is configured; exits 2 when a
source for CODENAME-backports is there already."""
import glob
import re
import sys


def one_line_sources(path):
    """The entries of a one-line-style file: (options, uri, suites, components)."""
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.split("#", 1)[0].strip()
        m = re.match(r"deb\s+(\[[^\]]*\]\s+)?(\S+)\s+(\S+)\s*(.*)", line)
        if m:
            options = dict(re.findall(r"([\w-]+)=(\S+)", m.group(1) or ""))
            yield {"uris": [m.group(2)], "suites": [m.group(3)], "components": m.group(4).split(),
                   "signed-by": options.get("signed-by", "")}


def deb822_sources(path):
    """The stanzas of a deb822 file that hold binary packages."""
    text = open(path, encoding="utf-8", errors="replace").read()
    for stanza in re.split(r"\n\s*\n", text):
        fields = {}
        for line in stanza.splitlines():
            if line.startswith("#") or ":" not in line or line[:1].isspace():
                continue
            name, value = line.split(":", 1)
            fields[name.strip().lower()] = value.strip()
        if "deb" not in fields.get("types", "").split() or fields.get("enabled", "yes") == "no":
            continue
        yield {"uris": fields.get("uris", "").split(), "suites": fields.get("suites", "").split(),
               "components": fields.get("components", "").split(),
               "signed-by": fields.get("signed-by", "")}


def main():
    codename = sys.argv[1]
    entries = []
    for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
        try:
            entries += one_line_sources(path)
        except OSError:
            pass
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        entries += deb822_sources(path)
    if any(codename + "-backports" in e["suites"] for e in entries):
        return 2
    for e in entries:
        if codename in e["suites"] and "main" in e["components"] and e["uris"]:
            print("Types: deb")
            print("URIs: " + " ".join(e["uris"]))
            print("Suites: " + codename + "-backports")
            print("Components: main")
            if e["signed-by"]:
                print("Signed-By: " + e["signed-by"])
            return 0
    return 1


sys.exit(main())
