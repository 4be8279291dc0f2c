#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel as its users get it.

    test_package.py install   `cmake --install` of the build tree into a scratch prefix:
                              layout, the program's link, launcher, icon, AppStream data,
                              and debian/'s copyright file and changelog against the
                              release; LICENSE and the SPDX line of every tracked file
    test_package.py deb       the .deb (scripts/package builds it into <build>/deb, or
                              TOVREL_DEB): its dependencies against what the program
                              loads, apt's view, lintian on it and on the source package,
                              and the program unpacked with dpkg -x, started on the test
                              display and ended with SIGTERM
    test_package.py system    the package installed on this machine (/usr/bin/tovrel)

Environment: TOVREL_BUILD_DIR (the build tree; default build/), TOVREL_DEB (a ready
.deb; the .changes and .dsc beside it are checked too), TOVREL_PLAYER_TEST (the media
player's component test program, run to see which GStreamer plugins playing an MP3
loads). The program runs on the display, tray host and
sound server of harness.services().
"""
import fnmatch
import gzip
import os
import re
import signal
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ET
from configparser import ConfigParser
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

ROOT = harness.ROOT
ICON_SIZES = (32, 48, 64, 128, 256)
ARCH_LIB = "x86_64-linux-gnu"


def build_dir():
    return Path(os.environ.get("TOVREL_BUILD_DIR") or ROOT / "build")


def run(argv, timeout=120, check=True, env=None):
    res = subprocess.run([str(a) for a in argv], capture_output=True, text=True,
                         timeout=timeout, env=env, stdin=subprocess.DEVNULL)
    if check and res.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, argv))} failed ({res.returncode}):\n"
                             f"{res.stdout}{res.stderr}")
    return res


def png_size(path):
    data = Path(path).read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG file")
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def desktop_entry(path):
    parser = ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return dict(parser["Desktop Entry"])


def say(text):
    print(text, file=sys.stderr)


def deb822(text):
    """Paragraphs of a Debian control-style file (the DEP-5 copyright file) as dicts."""
    return [dict(re.findall(r"(?m)^([\w-]+):[ \t]*(.*(?:\n[ \t].*)*)", para))
            for para in text.strip().split("\n\n")]


# The copyright file's licence names and their SPDX identifiers.
SPDX = {"GPL-3+": "GPL-3.0-or-later", "CC0-1.0": "CC0-1.0"}


def licence_of(path, paragraphs):
    """SPDX identifier of a source path: the last matching Files paragraph wins."""
    found = [SPDX.get(p["License"].split("\n")[0]) for p in paragraphs
             if any(fnmatch.fnmatchcase(path, pat) for pat in p.get("Files", "").split())]
    return found[-1] if found else None


# --------------------------------------------------------------------------- packages

def parse_relations(field):
    """Depends field -> list of alternative groups, each a list of package names."""
    groups = []
    for group in field.split(","):
        names = [re.sub(r"\s*\(.*?\)|:\w+$", "", alt).strip() for alt in group.split("|")]
        names = [n for n in names if n]
        if names:
            groups.append(names)
    return groups


def installed_depends(package):
    res = run(["dpkg-query", "-W", "-f", "${Depends},${Pre-Depends}", package], check=False)
    return parse_relations(res.stdout) if res.returncode == 0 else []


def closure(groups):
    """Every installed package reachable from the groups (all alternatives followed)."""
    seen, todo = set(), [n for g in groups for n in g]
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        todo.extend(n for g in installed_depends(name) for n in g)
    return seen


def owner(path):
    """The package holding a file, or None. dpkg records a library under /lib or
    /usr/lib as its package shipped it, so both spellings are asked for."""
    path = str(path)
    other = path[len("/usr"):] if path.startswith("/usr/") else "/usr" + path
    for candidate in (path, other):
        res = run(["dpkg-query", "-S", candidate], check=False)
        if res.returncode == 0:
            return res.stdout.splitlines()[0].split(":")[0].split(",")[0].strip()
    return None


def needed_libraries(binary):
    out = run(["readelf", "-d", binary]).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


# --------------------------------------------------------------------------- checks

class InstalledTree:
    """Checks of an installed tree under `prefix` (a --prefix folder, or root/usr)."""

    prefix = None
    system = False
    package_version = None

    def files(self, folder):
        """The package's files in prefix/folder."""
        base = self.prefix / folder
        if self.system:
            listed = run(["dpkg-query", "-L", "tovrel"]).stdout.split()
            return sorted(Path(f) for f in listed
                          if Path(f).parent == base and Path(f).is_file())
        return sorted(p for p in base.glob("*") if p.is_file()) if base.is_dir() else []

    def launcher(self):
        found = [p for p in self.files("share/applications") if p.suffix == ".desktop"]
        self.assertEqual(len(found), 1, f"desktop files in {self.prefix}/share/applications: {found}")
        return found[0]

    def metainfo(self):
        found = [p for p in self.files("share/metainfo") if p.name.endswith(".metainfo.xml")]
        self.assertEqual(len(found), 1, f"metainfo files: {found}")
        return found[0]

    def test_program_link_leads_to_the_program_beside_its_click(self):
        link = self.prefix / "bin" / "tovrel"
        self.assertTrue(link.is_symlink(), f"{link} is not a symbolic link")
        target = os.readlink(link)
        self.assertFalse(os.path.isabs(target), f"{link} -> {target}: not relative")
        program = link.resolve()
        home = program.parent
        self.assertEqual(home, (self.prefix / "lib" / "tovrel").resolve())
        self.assertTrue(os.access(program, os.X_OK), f"{program} is not executable")
        self.assertEqual(program.read_bytes()[:4], b"\x7fELF")
        self.assertTrue((home / "Tovrel.wav").is_file(), "no click sound beside the program")
        # The pictures are inside the program.
        self.assertEqual(sorted(p.name for p in home.iterdir()), ["Tovrel.wav", "tovrel"])

    def test_launcher_is_valid_and_names_the_program_and_its_icon(self):
        path = self.launcher()
        res = run(["desktop-file-validate", path], check=False)
        say(f"desktop-file-validate {path}: exit {res.returncode} {res.stdout}{res.stderr}".rstrip())
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        self.assertEqual(res.stdout + res.stderr, "", "desktop-file-validate has remarks")
        entry = desktop_entry(path)
        self.assertIn(entry["Name"], ("MP3 Tovrel", "Tovrel"))
        self.assertEqual(entry["Exec"].split()[0], "tovrel")
        self.assertTrue((self.prefix / "bin" / "tovrel").exists())
        self.assertEqual(set(entry["Categories"].strip(";").split(";")), {"Utility", "Clock"})
        self.assertEqual(entry["Icon"], path.stem, "the icon is named after the launcher")
        for size in ICON_SIZES:
            icon = self.prefix / f"share/icons/hicolor/{size}x{size}/apps/{entry['Icon']}.png"
            self.assertTrue(icon.is_file(), f"no {icon}")
            self.assertEqual(png_size(icon), (size, size), f"{icon} has the wrong size")

    def test_metainfo_is_valid_and_matches_the_launcher(self):
        path = self.metainfo()
        res = run(["appstreamcli", "validate", "--no-net", "--no-color", path], check=False)
        say(f"appstreamcli validate --no-net {path}: exit {res.returncode}\n{res.stdout}{res.stderr}".rstrip())
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        self.assertNotRegex(res.stdout, r"(?m)^[EW]:", "errors or warnings from appstreamcli")
        tree = ET.parse(path).getroot()
        launcher = self.launcher()
        self.assertEqual(tree.findtext("id"), launcher.stem)
        self.assertEqual(path.name, launcher.stem + ".metainfo.xml")
        self.assertEqual(tree.findtext("launchable[@type='desktop-id']"), launcher.name)
        self.assertEqual(tree.findtext("provides/binary"), "tovrel")
        self.assertIsNotNone(tree.find("content_rating"))
        self.assertTrue(tree.find("description").findall("p"))
        images = [e.text for e in tree.findall("screenshots/screenshot/image")]
        self.assertTrue(images, "no screenshot")
        for url in images:
            self.assertTrue(url.startswith("https://"), url)
            self.assertTrue((ROOT / "docs" / Path(url).name).is_file(),
                            f"{url}: no such screenshot in docs/")

    def copyright_and_changelog(self):
        """The copyright file and the Debian changelog as the package installs them."""
        doc = self.prefix / "share/doc/tovrel"
        changelog = (doc / "changelog.gz").read_bytes()
        self.assertEqual(changelog[3:8], b"\0" * 5, "gzip -n: no name, no time stamp")
        return (doc / "copyright").read_text(), gzip.decompress(changelog)

    def test_copyright_changelog_and_release_agree(self):
        copyright_text, changelog = self.copyright_and_changelog()
        header, *files = deb822(copyright_text)
        self.assertEqual(header.get("Format"),
                         "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
        meta = ET.parse(self.metainfo()).getroot()
        self.assertEqual(licence_of("src/platform/main.cpp", files), meta.findtext("project_license"))
        self.assertEqual(licence_of("assets/Tovrel.wav", files), meta.findtext("project_license"))
        self.assertEqual(licence_of("packaging/tovrel.metainfo.xml.in", files),
                         meta.findtext("metadata_license"))
        texts = {p["License"] for p in files if "Files" not in p}
        for name in {p["License"] for p in files if "Files" in p}:
            self.assertIn(name, SPDX, "a licence without its SPDX identifier")
            text = next((t for t in texts if t.split("\n")[0] == name), "")
            common = re.search(r"/usr/share/common-licenses/[\w.+-]+", text)
            self.assertTrue(common and Path(common[0]).is_file(), f"no licence text for {name}")
        release = meta.find("releases/release")
        self.assertIsNotNone(release, "no release in the AppStream data")
        version, date = release.get("version"), release.get("date")
        # The project's version, which the About window shows.
        project = re.search(r"project\(tovrel VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text())
        self.assertEqual(version, project[1], "the release is not the project's version")
        self.assertIn(self.package_version, (None, version))
        self.assertGreaterEqual(len(release.findall("description/p")), 1)
        entry = re.search(r"(?m)^## \[([^]]+)\] - (\d{4}-\d\d-\d\d)\n(.*?)(?=^## |\Z)",
                          (ROOT / "CHANGELOG.md").read_text(), re.S)
        self.assertEqual(entry.group(1, 2), (version, date), "CHANGELOG.md's newest release")
        self.assertRegex(entry[3], r"(?m)^### (Added|Changed|Fixed)\n+- ")
        text = harness.new_dir("changelog") / "changelog"
        text.write_bytes(changelog)
        res = run(["dpkg-parsechangelog", "-l", text], env=dict(os.environ, LC_ALL="C"))
        self.assertEqual(res.stderr, "", "dpkg-parsechangelog has remarks")
        fields = dict(re.findall(r"(?m)^(Version|Timestamp): (.*)$", res.stdout))
        self.assertEqual((fields["Version"], time.strftime("%F", time.gmtime(int(fields["Timestamp"])))),
                         (version, date), "the Debian changelog's entry")

    def test_autostart_entry_is_shipped_but_not_enabled(self):
        entries = self.files("share/tovrel/autostart")
        self.assertEqual([p.name for p in entries], ["tovrel.desktop"])
        res = run(["desktop-file-validate", entries[0]], check=False)
        say(f"desktop-file-validate {entries[0]}: exit {res.returncode} {res.stdout}{res.stderr}".rstrip())
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        entry = desktop_entry(entries[0])
        self.assertEqual(entry["Exec"], desktop_entry(self.launcher())["Exec"])
        self.assertNotEqual(entry.get("Hidden"), "true")
        xdg = self.prefix.parent / "etc/xdg/autostart" if not self.system else Path("/etc/xdg/autostart")
        self.assertFalse((xdg / "tovrel.desktop").exists(), "autostart is enabled for everyone")


class RunningProgram:
    """The installed program on the test display: window, pictures, tray, SIGTERM."""

    def program_path(self):
        return self.prefix / "bin" / "tovrel"

    def test_program_starts_draws_its_skin_and_ends_on_sigterm(self):
        harness.services().ensure()
        program = harness.Program(binary=self.program_path(), env={"LANG": "C"}).start()
        self.addCleanup(program.stop)
        self.assertEqual(Path(f"/proc/{program.pid}/exe").resolve(),
                         self.program_path().resolve(), "the link did not start the program")
        win = program.wait_window(harness.MAIN_WINDOW_TITLE, timeout=20)
        g = harness.geometry(win)
        self.assertEqual((g.width, g.height, g.viewable), (ui.WIDTH, ui.COLLAPSED_HEIGHT, True))
        self.assertTrue(harness.shape(win).shaped, "the window is not cut to its outline")
        harness.wait_until(lambda: harness.tray_icon_docked(program.pid), 10, "the tray icon")
        # The skin comes from the pictures inside the program: a bare spot of the
        # panel shows exactly the background picture.
        out = harness.test_output_dir("package", self.mode)
        shot = harness.Image(harness.screenshot(out / "window.png", window=win))
        skin = harness.Image(ROOT / "assets" / "FrmTovrel.png")
        for x, y in ((40, 110), (200, 20), (300, 170)):
            self.assertEqual(shot.pixel(x, y), skin.pixel(x, y), f"pixel {x},{y}")
        program.proc.popen.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait_exit(timeout=10), 0, program.proc.describe())
        self.assertFalse(harness.tray_icon_docked(program.pid), "tray icon left behind")
        self.assertNotIn("run-time error", program.stderr_text())


# --------------------------------------------------------------------------- modes

class InstallTest(InstalledTree, unittest.TestCase):
    mode = "install"

    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.new_dir("prefix")
        run(["cmake", "--install", build_dir(), "--prefix", cls.prefix])

    def copyright_and_changelog(self):
        # The package's, from debian/: not installed here.
        self.assertFalse((self.prefix / "share/doc").exists(), "doc files installed by CMake")
        return (ROOT / "debian/copyright").read_text(), (ROOT / "debian/changelog").read_bytes()

    def test_every_source_file_carries_its_licence(self):
        self.assertEqual((ROOT / "LICENSE").read_text(),
                         Path("/usr/share/common-licenses/GPL-3").read_text(), "LICENSE")
        res = run(["git", "-C", ROOT, "ls-files", "-z"], check=False)
        if res.returncode != 0:
            self.skipTest(f"not a git checkout: {res.stderr.strip()}")
        paragraphs = deb822((ROOT / "debian/copyright").read_text())[1:]
        wrong = []
        for name in res.stdout.split("\0")[:-1]:
            data = (ROOT / name).read_bytes()
            # Pictures and sounds, documents, the licence and copyright files themselves
            # and the Debian files without comments say it elsewhere; every other file
            # in its first two lines.
            if b"\0" in data or name.endswith(".md") or name in (
                    "LICENSE", "debian/copyright", "debian/changelog", "debian/source/format"):
                continue
            found = re.search(rb"SPDX-License-Identifier: (\S+)", b"\n".join(data.split(b"\n")[:2]))
            if not found or found[1].decode() != licence_of(name, paragraphs):
                wrong.append(f"{name}: {found[1].decode() if found else 'none'}")
        self.assertEqual(wrong, [], "files without the SPDX line the copyright file gives them")


class DebTest(InstalledTree, RunningProgram, unittest.TestCase):
    mode = "deb"

    @classmethod
    def setUpClass(cls):
        given = os.environ.get("TOVREL_DEB")
        if given:
            cls.deb = Path(given).resolve()
        else:
            res = run(["bash", ROOT / "scripts/package", "--dir", build_dir() / "deb"], timeout=1200)
            cls.deb = Path(res.stdout.splitlines()[-1])
        cls.root = harness.new_dir("root")
        run(["dpkg-deb", "-x", cls.deb, cls.root])
        cls.prefix = cls.root / "usr"
        fields = run(["dpkg-deb", "-f", cls.deb, "Package", "Version", "Depends"]).stdout
        cls.depends = parse_relations(re.search(r"^Depends: (.*)$", fields, re.M).group(1))
        cls.package_version = re.search(r"^Version: (.*)$", fields, re.M).group(1)
        cls.covered = closure(cls.depends)
        say(f"\n  {cls.deb}\n  {fields.strip()}")

    def uncovered(self, files):
        """The files (with their packages) that no dependency brings."""
        missing = []
        for path in files:
            package = owner(path)
            if package not in self.covered:
                missing.append(f"{path} ({package or 'no package'})")
        return missing

    def test_linked_libraries_are_direct_dependencies(self):
        program = self.prefix / "lib/tovrel/tovrel"
        direct = {n for g in self.depends for n in g}
        for soname in needed_libraries(program):
            pkg = owner(f"/usr/lib/{ARCH_LIB}/{soname}")
            self.assertIsNotNone(pkg, f"no package holds {soname}")
            self.assertIn(pkg, direct, f"{soname} ({pkg}) is not a dependency")

    def test_what_the_program_loads_at_run_time_is_depended_on(self):
        # The seven-segment face: the font files named in the program.
        data = (self.prefix / "lib/tovrel/tovrel").read_bytes()
        fonts = sorted({m.decode() for m in re.findall(rb"/usr/share/fonts/[\x21-\x7e]+?\.ttf", data)})
        self.assertTrue(fonts, "the program names no font file")
        # Qt's platform plugin for X11, and the GStreamer plugins that playing an MP3
        # and the built-in tone load, seen in the media player's test.
        xcb = f"/usr/lib/{ARCH_LIB}/qt6/plugins/platforms/libqxcb.so"
        missing = self.uncovered([*fonts, xcb, *self.gstreamer_plugins()])
        self.assertEqual(missing, [], "loaded at run time but not depended on")

    def gstreamer_plugins(self):
        player = os.environ.get("TOVREL_PLAYER_TEST")
        if not player or not Path(player).is_file():
            harness.lacking("no media player test program (TOVREL_PLAYER_TEST)")
        harness.services().ensure()
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", GST_DEBUG="GST_PLUGIN_LOADING:4",
                   GST_DEBUG_NO_COLOR="1")
        proc = subprocess.Popen([player, "--gtest_filter=PlayerAtSink.Mp3WithId3TagPlaysToo:"
                                "PlayerAtSink.FileGoneBeforeTheAlarmSoundsTheTone"],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, text=True)
        out, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, out[-3000:])
        # Only the player's own loads, not those of GStreamer's registry scanner.
        own = rf"(?m)^\S+ +{proc.pid} +0x.*GST_PLUGIN_LOADING.*plugin \"([^\"]+\.so)\" loaded"
        plugins = sorted(set(re.findall(own, out)))
        names = {Path(p).name for p in plugins}
        say(f"  GStreamer plugins loaded: {' '.join(sorted(names))}")
        self.assertTrue({"libgstmpg123.so", "libgstpulseaudio.so", "libgstapp.so"} <= names, plugins)
        return plugins

    def test_apt_can_install_it(self):
        res = run(["apt-get", "install", "--simulate", "-o", "Debug::NoLocking=1",
                   "--no-install-recommends", self.deb], check=False,
                  env=dict(os.environ, LC_ALL="C"))
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        self.assertNotRegex(res.stdout, r"(?m)^Remv ", "installing it would remove packages")
        self.assertRegex(res.stdout, r"(?m)^(Inst tovrel |tovrel is already the newest)",
                         res.stdout)

    def test_lintian_finds_nothing_in_the_source_and_binary_packages(self):
        # The .changes of a build of both takes lintian to the .dsc and the .deb too.
        changes = self.deb.with_name(self.deb.name.replace(".deb", ".changes"))
        target = changes if changes.is_file() else self.deb
        if target == changes:
            self.assertIn(f" tovrel_{self.package_version}.dsc\n", changes.read_text(),
                          f"{changes.name} has no source package")
        res = run(["lintian", "--allow-root", "--pedantic", "--fail-on", "none",
                   "--tag-display-limit", "0", target], timeout=300)
        say(f"lintian --pedantic {target.name}:\n{res.stdout}{res.stderr}".rstrip())
        # Errors, warnings, notes and pedantic remarks; a remark kept is overridden in
        # debian/ with its reason.
        self.assertNotRegex(res.stdout, r"(?m)^[EWIP]: ", "lintian has remarks")

    def test_contents_belong_under_usr(self):
        listing = run(["dpkg-deb", "-c", self.deb]).stdout
        paths = [line.split()[5] for line in listing.splitlines()]
        self.assertTrue(all(p.startswith("./usr/") or p == "./" for p in paths), paths)
        self.assertRegex(listing, r"(?m) \./usr/bin/tovrel -> \.\./lib/tovrel/tovrel$")


class SystemTest(InstalledTree, RunningProgram, unittest.TestCase):
    mode = "system"
    system = True
    prefix = Path("/usr")

    @classmethod
    def setUpClass(cls):
        status = run(["dpkg-query", "-W", "-f", "${Status} ${Version}", "tovrel"], check=False).stdout
        if "install ok installed" not in status:
            raise AssertionError(f"the tovrel package is not installed: {status!r}")
        cls.package_version = status.split()[-1]
        say(f"\n  installed: tovrel {cls.package_version}")


MODES = {"install": InstallTest, "deb": DebTest, "system": SystemTest}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in MODES:
        sys.exit(f"usage: {sys.argv[0]} {{{'|'.join(MODES)}}} [unittest options]")
    case = MODES[sys.argv.pop(1)]
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
