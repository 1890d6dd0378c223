"""Script actions on the local machine in whole sessions of the real
program: files, the hosts file of the prefix, registration through
regsvr32, the registry, started programs and key presses into a window of
the test suite."""

import itertools
import os
import shutil
import time
import unittest

from harness import PREFIX
from sessions import (ANALYSING, DONE, KEYWIN, MARKER, READING, REGDLL, SessionTestCase,
                      read_bytes, reg, reg_value, stored_stamp)

HOSTS = os.path.join(PREFIX, "drive_c", "windows", "system32", "drivers", "etc", "hosts")
REG_KEY = r"HKCU\Software\QXUpdateE2E"
HELPER_TIMEOUT_S = 20


class Failure:
    """An expected ErrLog line: the operation's text, then "错误", the
    number, "：" and a description that the test does not fix."""

    def __init__(self, prefix):
        self.prefix = prefix

    def matches(self, line):
        rest = line[len(self.prefix):] if line.startswith(self.prefix) else None
        return rest is not None and rest.startswith("错误") and "：" in rest and not rest.endswith("：")

    def __repr__(self):
        return repr(self.prefix + "错误<n>：<description>")


def keep_hosts_file(test):
    """Puts the prefix's hosts file back as it was when the test ends."""
    original = read_bytes(HOSTS) if os.path.exists(HOSTS) else None

    def restore():
        if original is None:
            if os.path.exists(HOSTS):
                os.remove(HOSTS)
            return
        with open(HOSTS, "wb") as f:
            f.write(original)
    test.addCleanup(restore)


def read_marker(path):
    fields = {}
    for line in read_bytes(path).decode("utf-8").split("\r\n"):
        if "=" in line:
            key, _, value = line.partition("=")
            fields[key] = value
    return fields


class ActionsTestCase(SessionTestCase):

    def check_lines_with_failures(self, what, expected, got):
        """Like check_lines; a Failure in `expected` stands for any ErrLog
        line of that operation."""
        normalised = [e if isinstance(e, Failure) and g is not None and e.matches(g) else g
                      for e, g in itertools.zip_longest(expected, got)]
        self.check(f"progress lines {what}", expected, [g for g in normalised if g is not None])

    def work_folder_with(self, *programs):
        w = self.folder("w")
        for p in programs:
            shutil.copy2(p, w)
        return w


class EveryActionSessionTest(ActionsTestCase):

    def test_one_session_with_every_local_action(self):
        keep_hosts_file(self)
        reg("delete", REG_KEY, "/f")
        self.addCleanup(reg, "delete", REG_KEY, "/f")
        with open(HOSTS, "wb") as f:
            f.write(b"127.0.0.1\tlocalhost\r\n"
                    b"10.9.9.9 qx-e2e-a.test # old address\r\n"
                    b"# qx-e2e-b.test is mentioned in a comment\r\n"
                    b"10.1.1.1 qx-e2e-b.test\r\n"
                    b"10.1.1.2 other-qx-e2e-b.test qx-e2e-b.test.example\r\n")

        w = self.work_folder_with(MARKER, REGDLL, KEYWIN)
        ww = self.win(w)
        marker, regdll, keywin = (os.path.basename(p) for p in (MARKER, REGDLL, KEYWIN))
        source = b"the new file\r\n" * 3
        self.nginx.put("src.txt", source)
        for name, data in (("kept.txt", b"kept as it was\r\n"), (".hidden.txt", b"hidden, kept\r\n"),
                           ("over.txt", b"to be replaced\r\n"), ("ro.txt", b"read-only\r\n")):
            with open(os.path.join(w, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(w, "ro.txt"), 0o444)
        keys_file = os.path.join(self.work_dir, "keys.txt")

        self.start_updater("QXaEvery")
        self.publish([
            "2030-01-01",
            "workpath," + ww,
            "down,src.txt",
            "copy,src.txt",
            "copy,src.txt,kept.txt,0",
            "copy,src.txt,.hidden.txt,False",
            "copy,src.txt,over.txt",
            "copy,missing.txt,x.txt",
            "delete,ro.txt",
            "delete,gone.txt",
            "checkwritable,src.txt",
            "checkwritable,never.txt",
            "hostsadd,qx-e2e-a.test,10.1.2.3",
            "hostsremove,qx-e2e-b.test",
            "register," + regdll,
            "regwrite," + REG_KEY + "\\Written,written by the script",
            "regwrite," + REG_KEY + "\\Gone,dword:7",
            "regdelete," + REG_KEY + "\\Gone",
            f"execute,{marker} bare one two,1",
            f"execute,{ww}\\{marker} full x\\y,0",
            f"execute,{marker} minimised,6",
            f"execute,{marker} badstyle,5",
            f"execute,{keywin} keys.txt,1",
            "wait,3",
            "keypress,abc+(xy){ENTER}中,1",
            "keypress,{TAB 2}~,0",
            "wait,1",
        ])
        lines = self.run_session(timeout_s=90)
        self.check_lines_with_failures("of the session with every action", [
            READING, ANALYSING,
            '正在设置工作目录"' + ww + '\\"……',
            '正在下载文件"src.txt"……',
            '正在复制文件"src.txt"……',
            '正在复制文件"src.txt"……',
            '正在复制文件"src.txt"……',
            '正在复制文件"src.txt"……',
            '正在复制文件"missing.txt"……',
            Failure('复制文件"' + ww + '\\Temp\\missing.txt"'),
            '正在删除文件"ro.txt"……',
            '正在删除文件"gone.txt"……',
            Failure('删除文件"' + ww + '\\gone.txt"'),
            '正在检测文件"src.txt"……',
            '正在检测文件"never.txt"……',
            '正在添加DNS记录"qx-e2e-a.test"……',
            '正在删除DNS记录"qx-e2e-b.test"……',
            '正在注册组件"' + regdll + '"……',
            '正在写注册表信息"' + REG_KEY + '\\Written"……',
            '正在写注册表信息"' + REG_KEY + '\\Gone"……',
            '正在删除注册表信息"' + REG_KEY + '\\Gone"……',
            '正在执行程序"' + marker + ' bare one two"……',
            '正在执行程序"' + ww + '\\' + marker + ' full x\\y"……',
            '正在执行程序"' + marker + ' minimised"……',
            '正在执行程序"' + marker + ' badstyle"……',
            Failure('执行程序"' + marker + ' badstyle"'),
            '正在执行程序"' + keywin + ' keys.txt"……',
            '正在模拟按键"abc+(xy){ENTER}中"……',
            '正在模拟按键"{TAB 2}~"……',
            DONE,
        ], lines)

        # Files.
        expected_files = {
            "Temp/src.txt": source,
            "src.txt": source,
            "kept.txt": b"kept as it was\r\n",
            ".hidden.txt": b"hidden, kept\r\n",
            "over.txt": source,
        }
        for name, data in expected_files.items():
            path = os.path.join(w, name)
            self.check(f"content of {name}", data, read_bytes(path) if os.path.exists(path) else None)
        for name in ("ro.txt", "never.txt", "x.txt"):
            self.check(f"{name} exists", False, os.path.exists(os.path.join(w, name)))

        # The hosts file: the old address of a commented out, the new entry
        # last, b's own line gone while the names that only contain it stay.
        self.check("hosts file", b"127.0.0.1\tlocalhost\r\n"
                                 b"#10.9.9.9 qx-e2e-a.test # old address\r\n"
                                 b"# qx-e2e-b.test is mentioned in a comment\r\n"
                                 b"10.1.1.2 other-qx-e2e-b.test qx-e2e-b.test.example\r\n"
                                 b"10.1.2.3\tqx-e2e-a.test\r\n", read_bytes(HOSTS))

        # Started programs: a bare command runs from the work folder, the
        # updater's current folder is theirs, the style reaches them.
        cwd = self.win(self.work_dir).lower()
        for name, args, show in (("bare", "bare one two", "1"), ("full", "full x\\y", "0"),
                                 ("minimised", "minimised", "7")):
            path = os.path.join(w, name + ".marker")
            self.wait_for_file(path, HELPER_TIMEOUT_S, f"the marker of the {name} execute line")
            got = read_marker(path)
            self.check(f"marker of the {name} execute line",
                       {"args": args, "cwd": cwd, "show": show},
                       dict(got, cwd=got.get("cwd", "").rstrip("\\").lower()))
        self.check("marker of an execute line with style 5", False,
                   os.path.exists(os.path.join(w, "badstyle.marker")))

        self.check("values the script wrote and deleted", ("written by the script", None),
                   (reg_value(REG_KEY, "Written"), reg_value(REG_KEY, "Gone")))

        # Registration runs on its own; give it time.
        deadline = time.monotonic() + HELPER_TIMEOUT_S
        registered = None
        while registered is None and time.monotonic() < deadline:
            registered = reg_value(REG_KEY, "Registered")
            if registered is None:
                time.sleep(0.5)
        self.check("value written by the registered component",
                   (ww + "\\" + regdll).lower(), (registered or "").lower())

        # Keys: the waiting press has been processed when its line returned;
        # the other had the rest of the script's time.
        expected_keys = "abcXY\r中\t\t\r"
        got_keys = ""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            data = read_bytes(keys_file).decode("ascii") if os.path.exists(keys_file) else ""
            got_keys = "".join(chr(int(h, 16)) for h in data.split())
            if got_keys == expected_keys:
                break
            time.sleep(0.2)
        self.check("characters the key window received", expected_keys, got_keys)
        self.check("stored stamp", "2030-01-01", stored_stamp(self.base_name))


if __name__ == "__main__":
    unittest.main()
