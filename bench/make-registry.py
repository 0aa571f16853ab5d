#!/usr/bin/env python3
# Writes a synthetic set of N Uninstall entries as regedit files (UTF-16LE with
# BOM) for the benchmarks: view32.reg (32-bit machine view), view64.reg (64-bit
# machine view) and user.reg (the current user's key), plus counts.txt with what a
# scanner must find (rows: the entries listed; tiles: those with an icon). The same N always gives the same files.
#
# Usage: make-registry.py N OUTPUT_DIR
#
# Of the N keys, 6 % go to the 64-bit view and 4 % to the current user's key, the
# rest to the 32-bit view. About 90 % carry a DisplayIcon in the forms installers
# write ("path", "path,N", "\"path\",N", %ProgramFiles% references, an .ico);
# about 10 % are hidden by SystemComponent=1.
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from regfile import write  # noqa: E402

PUBLISHERS = [
    "Contoso Ltd.", "Fabrikam, Inc.", "Northwind Traders", "Adventure Works", "Litware, Inc.",
    "Tailspin Toys", "Wingtip Toys", "Proseware, Inc.", "Coho Winery", "Woodgrove Bank",
    "Lucerne Publishing", "Margie's Travel", "Trey Research", "Blue Yonder Airlines", "Alpine Ski House",
    "金山办公软件有限公司", "腾讯科技(深圳)有限公司", "北京搜狗科技发展有限公司", "Graphic Design Institute",
    "School of Fine Art", "Humongous Insurance", "City Power & Light", "Fourth Coffee", "A. Datum Corporation",
]
WORDS = [
    "Studio", "Reader", "Player", "Toolkit", "Runtime", "Editor", "Manager", "Viewer", "Driver", "Suite",
    "Sync", "Backup", "Capture", "Converter", "Designer", "Explorer", "Assistant", "Monitor", "Office",
    "输入法", "浏览器", "播放器", "助手", "管家",
]
COMMENTS = [
    "", "", "Installed by Windows Installer", "Keeps your files in sync", "Media playback and conversion",
    "Developer tools for building and debugging", "办公软件：文字、表格、演示", "Device driver package",
    "Update service", "PDF reader with annotations", "即时通讯软件", "Security and maintenance tools",
]


def guid(rng):
    return "{%08X-%04X-%04X-%04X-%012X}" % (rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(16),
                                            rng.getrandbits(16), rng.getrandbits(48))


def entry(rng, index, program_files):
    publisher = rng.choice(PUBLISHERS)
    company = publisher.split()[0].strip(",.")
    product = "%s %s" % (rng.choice(WORDS), rng.choice(WORDS))
    version = "%d.%d.%d" % (rng.randint(1, 30), rng.randint(0, 99), rng.randint(0, 9999))
    folder = "%s\\%s\\%s %d" % (program_files, company, product, index)
    exe = "%s\\app%d.exe" % (folder, index % 97)
    msi = rng.random() < 0.3
    key = guid(rng) if msi else "%s %s_is%d" % (company, product, index)
    command = ("MsiExec.exe /X%s" % key if msi else '"%s\\unins000.exe"' % folder if rng.random() < 0.5
               else '"%s\\uninstall.exe" /S' % folder)
    values = [("DisplayName", "%s %s %s" % (company, product, version)), ("Publisher", publisher),
              ("Comments", rng.choice(COMMENTS)), ("DisplayVersion", version), ("InstallLocation", folder),
              ("UninstallString", command)]
    form = rng.random()  # 10 % have no icon: the default tile
    icon = ("" if form < 0.10 else exe if form < 0.35 else "%s,0" % exe if form < 0.60
            else '"%s",%d' % (exe, rng.randint(0, 3)) if form < 0.80
            else "%%ProgramFiles%%\\%s\\app.exe,0" % company if form < 0.92 else "%s\\app.ico" % folder)
    values += [("DisplayIcon", icon)] if icon else []
    hidden = rng.random() < 0.10
    dwords = [("EstimatedSize", rng.randint(100, 900000)), ("NoModify", 1)] + [("SystemComponent", 1)] * hidden
    return key, values, dwords, hidden


def main():
    n, out = int(sys.argv[1]), sys.argv[2]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20240601 + n)
    n64, nuser = round(n * 0.06), round(n * 0.04)
    n32 = n - n64 - nuser
    view32 = [entry(rng, i, r"C:\Program Files (x86)") for i in range(n32)]
    view64 = [entry(rng, n32 + i, r"C:\Program Files") for i in range(n64)]
    user = [entry(rng, n32 + n64 + i, r"C:\Users\Public\AppData\Local\Programs") for i in range(nuser)]
    for name, root, group in (("view32", "HKEY_LOCAL_MACHINE", view32), ("view64", "HKEY_LOCAL_MACHINE", view64),
                              ("user", "HKEY_CURRENT_USER", user)):
        write(os.path.join(out, name + ".reg"), root, [e[:3] for e in group])
    visible = [e for group in (view32, view64, user) for e in group if not e[3]]
    tiles = sum(1 for e in visible if any(name == "DisplayIcon" for name, _ in e[1]))
    with open(os.path.join(out, "counts.txt"), "w") as counts:
        counts.write("keys %d\nview32 %d\nview64 %d\nuser %d\nrows %d\ntiles %d\n" %
                     (n, n32, n64, nuser, len(visible), tiles))


if __name__ == "__main__":
    main()
