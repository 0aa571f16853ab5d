#!/usr/bin/env python3
"""Writes the demo Uninstall entries `make run` seeds its Wine prefix with, as
regedit files (UTF-16LE with BOM): the 32-bit machine view, the 64-bit machine
view and the current user's key. Usage: make-demo-registry.py OUTPUT_DIR"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from regfile import UNINSTALL, write  # noqa: E402

# (key, DisplayName, Publisher, Comments, DisplayIcon, UninstallString, extra values)
VIEW32 = [
    ("7-Zip", "7-Zip 23.01", "Igor Pavlov", "File archiver with a high compression ratio",
     r"C:\Program Files (x86)\7-Zip\7zFM.exe", r'"C:\Program Files (x86)\7-Zip\Uninstall.exe"', {}),
    ("Notepad++", "Notepad++ (32-bit x86)", "Notepad++ Team", "Source code editor",
     r'"C:\Program Files (x86)\Notepad++\notepad++.exe",0', r'"C:\Program Files (x86)\Notepad++\uninstall.exe"', {}),
    ("{23170F69-40C1-2702-2301-000001000000}", "", "Contoso Ltd.", "Installed by Windows Installer",
     r"C:\Windows\Installer\{23170F69-40C1-2702-2301-000001000000}\setup.ico",
     r"MsiExec.exe /X{23170F69-40C1-2702-2301-000001000000}", {}),
    ("WPS Office", "WPS Office (11.1.0.11830)", "金山办公软件有限公司", "办公软件：文字、表格、演示",
     r"C:\Users\Public\Kingsoft\WPS Office\11.1.0.11830\office6\wpsoffice.exe,0",
     r"C:\Users\Public\Kingsoft\WPS Office\11.1.0.11830\utility\uninst.exe /uninstall", {}),
    ("Foxit Reader", "Foxit PDF Reader", "Foxit Software Inc.", "PDF 阅读器",
     r"C:\Program Files (x86)\Foxit Software\Foxit PDF Reader\FoxitPDFReader.exe",
     r'"C:\Program Files (x86)\Foxit Software\Foxit PDF Reader\unins000.exe"', {}),
    ("VLC media player", "VLC media player", "VideoLAN", "Plays most multimedia files",
     r"C:\Program Files (x86)\VideoLAN\VLC\vlc.exe", r'"C:\Program Files (x86)\VideoLAN\VLC\uninstall.exe"', {}),
    ("TortoiseGit", "TortoiseGit 2.15.0.0 (32 bit)", "TortoiseGit", "Windows Shell Interface to Git",
     r"C:\Program Files (x86)\TortoiseGit\bin\TortoiseGitProc.exe",
     r"MsiExec.exe /I{D5FDA1C1-2EF2-4A74-9F65-B2A2B03CF1C1}", {}),
    ("SogouInput", "搜狗拼音输入法 13.5正式版", "Sogou.com", "中文输入法",
     r"C:\Program Files (x86)\SogouInput\13.5.0.8084\SogouExe.exe",
     r"C:\Program Files (x86)\SogouInput\13.5.0.8084\Uninstall.exe", {}),
    ("Paint.NET", "paint.net", "dotPDN LLC", "", r"C:\Program Files (x86)\paint.net\paintdotnet.exe",
     r'"C:\Program Files (x86)\paint.net\unins000.exe" /SILENT', {}),
    ("KeePass Password Safe 2", "KeePass Password Safe 2.55", "Dominik Reichl", "Password manager",
     r"C:\Program Files (x86)\KeePass Password Safe 2\KeePass.exe",
     r'"C:\Program Files (x86)\KeePass Password Safe 2\unins000.exe"', {}),
    ("Legacy Scanner", "Legacy Scanner Tools", "Acme Imaging", "Icon in a folder", r"C:\Program Files (x86)",
     r"C:\ACME\SCANNER\UNINST.EXE -y", {}),
    ("Winamp", "Winamp", "Nullsoft, Inc", "It really whips the llama's ass", r"%ProgramFiles%\Winamp\winamp.exe,0",
     r'"C:\Program Files (x86)\Winamp\UninstWA.exe"', {}),
    # Removes its own entry, so the uninstall command can be watched at work.
    ("Velmora Demo Alpha", "Velmora Demo Alpha", "Velmora", "Demo: removes itself when uninstalled",
     r"C:\windows\notepad.exe", r'reg.exe delete "HKLM\%s\Velmora Demo Alpha" /f /reg:32' % UNINSTALL, {}),
    ("Velmora Demo Beta", "Velmora Demo Beta", "Velmora", "Demo: removes itself when uninstalled",
     r"C:\windows\regedit.exe", r'reg.exe delete "HKLM\%s\Velmora Demo Beta" /f /reg:32' % UNINSTALL, {}),
    # Hidden from the list.
    ("Microsoft Visual C++ 2015-2022 Redistributable Runtime", "Microsoft Visual C++ 2022 X86 Minimum Runtime",
     "Microsoft Corporation", "", "", r"MsiExec.exe /X{8E6F2C71-0F16-4A84-A6A4-1CF4E1B67C2B}",
     {"SystemComponent": 1}),
    ("Intel Driver", "Intel(R) Graphics Driver", "Intel Corporation", "", "", r"C:\Intel\uninstall.exe",
     {"NoRemove": 1}),
    ("Broken Leftover", "", "", "", "", "", {}),
]

VIEW64 = [
    ("Git_is1", "Git", "The Git Development Community", "Distributed version control",
     r"C:\Program Files\Git\mingw64\share\git\git-for-windows.ico", r'"C:\Program Files\Git\unins000.exe"', {}),
    ("{A7E5B7C1-1C0A-4C37-9F30-74A33C1C16F7}", "Microsoft Visual Studio Code", "Microsoft Corporation",
     "Code editing. Redefined.", r"C:\Program Files\Microsoft VS Code\Code.exe",
     r'"C:\Program Files\Microsoft VS Code\unins000.exe"', {}),
    ("PowerToys", "PowerToys (Preview) x64", "Microsoft Corporation", "", r"C:\Program Files\PowerToys\PowerToys.exe",
     r'MsiExec.exe /X{6A3A8B6A-2C8A-4C8B-8E1E-5E6B9B2B7C11}', {}),
    ("Python 3.12.1", "Python 3.12.1 (64-bit)", "Python Software Foundation", "",
     r"C:\Program Files\Python312\python.exe", r'"C:\ProgramData\Package Cache\python-3.12.1-amd64.exe" /uninstall',
     {}),
    ("Tencent QQ", "腾讯QQ", "腾讯科技(深圳)有限公司", "即时通讯软件", r"C:\Program Files\Tencent\QQNT\QQ.exe",
     r"C:\Program Files\Tencent\QQNT\Uninstall.exe", {}),
    ("Velmora Demo 64", "Velmora Demo 64-bit", "Velmora", "Demo: listed by Drisk.x64, removes itself",
     r"C:\windows\system32\winver.exe", r'reg.exe delete "HKLM\%s\Velmora Demo 64" /f /reg:64' % UNINSTALL, {}),
    ("NVIDIA Display Control Panel", "NVIDIA Control Panel", "NVIDIA Corporation", "", "", r"C:\NVIDIA\uninstall.exe",
     {"SystemComponent": 1}),
]

USER = [
    ("Spotify", "Spotify", "Spotify AB", "Music for everyone", r"C:\Users\Public\AppData\Roaming\Spotify\Spotify.exe",
     r"C:\Users\Public\AppData\Roaming\Spotify\Spotify.exe /uninstall", {}),
    ("Zoom", "Zoom Workplace", "Zoom Video Communications, Inc.", "Per-user installation",
     r"C:\Users\Public\AppData\Roaming\Zoom\bin\Zoom.exe", r'"C:\Users\Public\AppData\Roaming\Zoom\uninstall\Installer.exe" /uninstall',
     {}),
    ("WeChat", "微信", "腾讯科技(深圳)有限公司", "", r"C:\Users\Public\AppData\Local\Tencent\WeChat\WeChat.exe",
     r"C:\Users\Public\AppData\Local\Tencent\WeChat\Uninstall.exe", {}),
    ("Velmora Demo User", "Velmora Demo (per user)", "Velmora", "Demo: listed by Drisk.x64, removes itself",
     r"C:\windows\hh.exe", r'reg.exe delete "HKCU\%s\Velmora Demo User" /f' % UNINSTALL, {}),
]


def entries(table):
    return [(key, list(zip(("DisplayName", "Publisher", "Comments", "DisplayIcon", "UninstallString"), values)),
             list(extra.items())) for key, *values, extra in table]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "demo32.reg"), "HKEY_LOCAL_MACHINE", entries(VIEW32))
    write(os.path.join(out, "demo64.reg"), "HKEY_LOCAL_MACHINE", entries(VIEW64))
    write(os.path.join(out, "demo-user.reg"), "HKEY_CURRENT_USER", entries(USER))


if __name__ == "__main__":
    main()
