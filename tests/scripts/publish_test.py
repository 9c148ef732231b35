#!/usr/bin/env python3
"""scripts/publish: two releases published into a feed folder by a throwaway publisher, which
--verify accepts, and the feeds it refuses."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from testing import ROOT, run_script

KEYS = None  # the throwaway publishers, made once for the class
PACKAGE = """<?xml version="1.0"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Corvanta Remote" Language="1033" Version="{version}"
           Manufacturer="Corvanta" UpgradeCode="77a23d80-ed3f-4739-86ae-f6c16c6e4ac1">
    <Package InstallerVersion="500" Compressed="yes"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"/>
  </Product>
</Wix>
"""


def run(*arguments, signer="publisher"):
    environment = dict(os.environ, REMOTEUPDATER_SIGN_PKCS12=str(KEYS / f"{signer}.p12"),
                       REMOTEUPDATER_SIGN_PASSWORD="")
    return run_script("scripts/publish", *arguments, env=environment, stdin=subprocess.DEVNULL,
                      timeout=120)


def thumbprint(signer):
    return (KEYS / f"{signer}.thumbprint").read_text().strip()


class Publish(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global KEYS
        cls.work = Path(tempfile.mkdtemp(prefix="publish_test."))
        cls.addClassCleanup(shutil.rmtree, cls.work)
        KEYS = cls.work / "publisher"
        subprocess.run([ROOT / "road/package/make_test_publisher", KEYS], check=True)
        for version in ("2.0.0", "2.1.0"):
            source = cls.work / f"{version}.wxs"
            source.write_text(PACKAGE.format(version=version))
            subprocess.run(["wixl", "-a", "x64", "-o", cls.work / f"CorvantaRemote-{version}.msi",
                            source], check=True)
        cls.feed = cls.work / "feed"
        cls.published = [run(cls.work / "CorvantaRemote-2.0.0.msi", cls.feed),
                         run(cls.work / "CorvantaRemote-2.1.0.msi", cls.feed,
                             "--rollout", "25", "--url-base", "https://updates.example.com/r/")]

    def verify(self, folder, signer="publisher"):
        return run("--verify", folder, KEYS / "root.pem", thumbprint(signer).lower())

    def test_publishes_two_releases_that_verify(self):
        for published in self.published:
            self.assertEqual(published.returncode, 0, published.stderr)
        self.assertIn(f"in {self.feed}/feed.json signed by {thumbprint('publisher')}",
                      self.published[1].stdout)
        feed = json.loads((self.feed / "feed.json").read_text())
        self.assertEqual(feed["serial"], 2)
        self.assertRegex(feed["expires"], r"^20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        newer = feed["channels"]["stable"][1]
        self.assertEqual((newer["version"], newer["url"], newer["rollout"]),
                         ("2.1.0", "https://updates.example.com/r/CorvantaRemote-2.1.0.msi", 25))
        self.assertEqual(sorted(os.listdir(self.feed)),
                         ["CorvantaRemote-2.0.0.msi", "CorvantaRemote-2.1.0.msi", "feed.json",
                          "feed.json.p7s"])
        verified = self.verify(self.feed)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        size = (self.feed / "CorvantaRemote-2.0.0.msi").stat().st_size
        self.assertIn(f"ok: stable 2.0.0: CorvantaRemote-2.0.0.msi, {size} bytes, SHA-256 "
                      "matches, rollout 100 %\n", verified.stdout)

    def test_republishing_a_version_replaces_it(self):
        folder = self.copy()
        # Another key does not sign over the feed unless told to.
        foreign = run(folder / "CorvantaRemote-2.1.0.msi", folder, signer="stranger")
        self.assertEqual(foreign.returncode, 1)
        self.assertIn(f"publish: feed.json in {folder} is signed by {thumbprint('publisher')}, "
                      f"not by this key ({thumbprint('stranger')})", foreign.stderr)
        halted = run(folder / "CorvantaRemote-2.1.0.msi", folder, "--rollout", "0")
        self.assertEqual(halted.returncode, 0, halted.stderr)
        feed = json.loads((folder / "feed.json").read_text())
        self.assertEqual(feed["serial"], 3)
        self.assertEqual([(each["version"], each["url"], each["rollout"])
                          for each in feed["channels"]["stable"]],
                         [("2.0.0", "CorvantaRemote-2.0.0.msi", 100),
                          ("2.1.0", "CorvantaRemote-2.1.0.msi", 0)])
        self.assertEqual(self.verify(folder).returncode, 0)

    def test_refuses(self):
        def change_byte(folder):
            text = (folder / "feed.json").read_bytes()
            (folder / "feed.json").write_bytes(text.replace(b'"serial": 2', b'"serial": 3'))

        def change_package(folder):
            package = bytearray((folder / "CorvantaRemote-2.0.0.msi").read_bytes())
            package[100] ^= 1
            (folder / "CorvantaRemote-2.0.0.msi").write_bytes(package)

        def sign_as_stranger(folder):
            run(folder / "CorvantaRemote-2.0.0.msi", folder, "--adopt", signer="stranger")

        rows = [
            ("feed.json changed after signing", change_byte, "publisher",
             "FAILED: the signature does not verify over feed.json or does not chain to"),
            ("signed by another publisher", None, "other-publisher",
             f"FAILED: the feed is signed by {thumbprint('publisher')}, "
             f"not by {thumbprint('other-publisher')}"),
            ("signed under a root not trusted", sign_as_stranger, "stranger",
             "FAILED: the signature does not verify over feed.json or does not chain to"),
            ("a package changed", change_package, "publisher",
             "FAILED: stable 2.0.0: the SHA-256 of CorvantaRemote-2.0.0.msi is not the feed's"),
        ]
        for name, change, signer, expected in rows:
            with self.subTest(name):
                folder = self.copy()
                if change:
                    change(folder)
                verified = self.verify(folder, signer)
                self.assertEqual(verified.returncode, 1, verified.stdout)
                self.assertIn(expected, verified.stdout)

    def test_refuses_what_a_machine_refuses(self):
        feed = ('{"serial": 1, "expires": "2099-01-01T00:00:00Z", "channels": {"stable": [{'
                 '"version": "2.0.0", "url": "CorvantaRemote-2.0.0.msi", "size": 8192, '
                 '"sha256": "' + "ab" * 32 + '", "rollout": 100}]}}')
        # (text of the well-formed feed, what it becomes, the refusal)
        rows = [
            ('"serial": 1,', '"serial": 1.0,',
             "FAILED: feed.json: serial 1.0 is not an unsigned 64-bit integer"),
            ("2099-", "2001-",
             "FAILED: feed.json: expired at 2001-01-01T00:00:00Z: machines refuse a frozen feed"),
            ('"serial": 1,', '"serial": 1, "serial": 9,',
             "FAILED: feed.json: the key 'serial' appears twice in one object"),
            ('"2.0.0"', '"256.0.0"', "FAILED: feed.json: channel stable, release 1: version "
             "'256.0.0' exceeds 255.255.65535"),
            ('"CorvantaRemote', '"../CorvantaRemote', "FAILED: feed.json: channel stable, release "
             "1: url '../CorvantaRemote-2.0.0.msi' is neither https:// nor a plain file name"),
        ]
        for text, changed, expected in rows:
            with self.subTest(expected):
                folder = self.copy()
                (folder / "feed.json").write_text(feed.replace(text, changed, 1))
                checked = run_script("scripts/lib/feed.py", "check", folder, timeout=60)
                self.assertEqual((checked.returncode, checked.stdout), (1, expected + "\n"))

    def copy(self):
        return shutil.copytree(self.feed, Path(tempfile.mkdtemp(dir=self.work)) / "feed")


if __name__ == "__main__":
    unittest.main()
