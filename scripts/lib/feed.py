#!/usr/bin/env python3
"""The update feed, feed.json, for scripts/publish: its shape, a release added to it, and the
checks a machine applies to it. The shell script signs and moves files; this holds the JSON.

    feed.py add <feed.json> <new feed.json> --version V --file NAME --url URL --size BYTES
                --sha256 HEX --channel NAME --rollout PERCENT --expires-in DAYS
        writes the feed with the release added (or replaced: same version, same channel), the
        serial raised by one and the expiry set; <feed.json> need not exist yet
    feed.py check <feed folder>
        checks feed.json's shape and expiry and the files of the releases held in the folder,
        prints each check, exits 0 or 1

The document:
    {"serial": <unsigned integer, only ever grows>, "expires": "2027-01-31T00:00:00Z",
     "channels": {"<channel>": [{"version": "2.0.0", "url": "...", "size": <bytes>,
                                 "sha256": "<64 lowercase hex>", "rollout": <0..100>}]}}
"""
import argparse
import datetime
import hashlib
import json
import re
import sys
from pathlib import Path

MAX_SERIAL = 2**64 - 1
RELEASE_FIELDS = ("version", "url", "size", "sha256", "rollout")
EXPIRY_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
CHANNEL_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]{0,63}")
# A name that is the same file on every server and needs no escaping in a URL.
FILE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._+-]{0,199}")
SHA256 = re.compile(r"[0-9a-f]{64}")


class FeedError(Exception):
    """A feed, or a release for it, that a machine would refuse."""


def is_whole_number(value):
    # JSON's true and false are Python ints; 1.0 is not a whole number in the feed.
    return isinstance(value, int) and not isinstance(value, bool)


def product_version(text):
    """"major.minor.build" as the Windows Installer bounds it, or FeedError."""
    fields = text.split(".") if isinstance(text, str) else []
    limits = (255, 255, 65535)
    if len(fields) != 3 or not all(re.fullmatch(r"[0-9]{1,5}", field) for field in fields):
        raise FeedError(f"version {text!r} is not major.minor.build")
    numbers = tuple(int(field) for field in fields)
    if any(number > limit for number, limit in zip(numbers, limits)):
        raise FeedError(f"version {text!r} exceeds 255.255.65535")
    return numbers


def is_absolute_url(url):
    # As the service takes a feed's address: https, or plain http to this machine for tests.
    return url.startswith("https://") or url.startswith("http://127.0.0.1")


def check_url(url):
    if not isinstance(url, str) or any(ord(c) <= 0x20 or ord(c) == 0x7F for c in url):
        raise FeedError(f"url {url!r} is not a URL without spaces or control characters")
    if is_absolute_url(url):
        return
    if not FILE_NAME.fullmatch(url):
        raise FeedError(f"url {url!r} is neither https:// nor a plain file name")


def check_release(release, where):
    if not isinstance(release, dict):
        raise FeedError(f"{where}: a release is not an object")
    missing = [name for name in RELEASE_FIELDS if name not in release]
    if missing:
        raise FeedError(f"{where}: no {', '.join(missing)}")
    try:
        product_version(release["version"])
        check_url(release["url"])
    except FeedError as error:
        raise FeedError(f"{where}: {error}") from None
    if not is_whole_number(release["size"]) or not 0 < release["size"] <= MAX_SERIAL:
        raise FeedError(f"{where}: size {release['size']!r} is not a positive whole number")
    if not isinstance(release["sha256"], str) or not SHA256.fullmatch(release["sha256"]):
        raise FeedError(f"{where}: sha256 {release['sha256']!r} is not 64 lowercase hex digits")
    if not is_whole_number(release["rollout"]) or not 0 <= release["rollout"] <= 100:
        raise FeedError(f"{where}: rollout {release['rollout']!r} is not a whole number 0..100")


def parse_expiry(text):
    try:
        moment = datetime.datetime.strptime(text, EXPIRY_FORMAT)
    except (TypeError, ValueError):
        raise FeedError(f"expires {text!r} is not a UTC time such as 2027-01-31T00:00:00Z") \
            from None
    return moment.replace(tzinfo=datetime.timezone.utc)


def refuse_duplicates(pairs):
    # Parsers differ on which of two equal keys wins: a signed feed must mean one thing.
    names = [name for name, _ in pairs]
    for name in names:
        if names.count(name) > 1:
            raise FeedError(f"the key {name!r} appears twice in one object")
    return dict(pairs)


def parse(data):
    """The feed in `data` (bytes), its shape checked; its expiry is the caller's matter."""
    try:
        feed = json.loads(data.decode("utf-8"), object_pairs_hook=refuse_duplicates)
    except (UnicodeDecodeError, ValueError) as error:
        raise FeedError(f"not JSON in UTF-8: {error}") from None
    if not isinstance(feed, dict):
        raise FeedError("the document is not an object")
    for name in ("serial", "expires", "channels"):
        if name not in feed:
            raise FeedError(f"no {name}")
    if not is_whole_number(feed["serial"]) or not 0 <= feed["serial"] <= MAX_SERIAL:
        raise FeedError(f"serial {feed['serial']!r} is not an unsigned 64-bit integer")
    parse_expiry(feed["expires"])
    if not isinstance(feed["channels"], dict):
        raise FeedError("channels is not an object")
    for channel, releases in feed["channels"].items():
        if not CHANNEL_NAME.fullmatch(channel):
            raise FeedError(f"channel name {channel!r} is not 1-64 letters, digits, . _ -")
        if not isinstance(releases, list):
            raise FeedError(f"channel {channel}: not a list of releases")
        for index, release in enumerate(releases):
            check_release(release, f"channel {channel}, release {index + 1}")
        versions = [product_version(release["version"]) for release in releases]
        if len(set(versions)) != len(versions):
            raise FeedError(f"channel {channel}: a version is listed twice")
    return feed


def add(arguments):
    current = Path(arguments.feed)
    feed = parse(current.read_bytes()) if current.exists() else {"serial": 0, "channels": {}}
    if feed["serial"] >= MAX_SERIAL:
        raise FeedError("the serial cannot grow any more")
    if not CHANNEL_NAME.fullmatch(arguments.channel):
        raise FeedError(f"channel name {arguments.channel!r} is not 1-64 letters, digits, . _ -")
    if not FILE_NAME.fullmatch(arguments.file):
        raise FeedError(f"file name {arguments.file!r} is not letters, digits and . _ + -")
    # A ProductVersion has one to four fields; missing ones are 0, and the Windows Installer
    # ignores the fourth when it compares versions.
    fields = arguments.version.split(".")
    if not 1 <= len(fields) <= 4:
        raise FeedError(f"the package's ProductVersion {arguments.version!r} is not a version")
    version = ".".join((fields + ["0", "0"])[:3])
    release = {"version": version, "url": arguments.url, "size": arguments.size,
               "sha256": arguments.sha256, "rollout": arguments.rollout}
    check_release(release, f"the release of {arguments.file}")
    releases = [old for old in feed["channels"].get(arguments.channel, [])
                if product_version(old["version"]) != product_version(version)]
    releases.append(release)
    releases.sort(key=lambda each: product_version(each["version"]))
    feed["channels"][arguments.channel] = releases
    feed["serial"] += 1
    expiry = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(
        days=arguments.expires_in)
    feed["expires"] = expiry.strftime(EXPIRY_FORMAT)
    text = json.dumps({"serial": feed["serial"], "expires": feed["expires"],
                       "channels": feed["channels"]}, indent=2) + "\n"
    parse(text.encode("utf-8"))
    Path(arguments.new_feed).write_text(text, encoding="utf-8")
    print(f"feed.json: serial {feed['serial']}, channel {arguments.channel}: {version} "
          f"({arguments.url}, rollout {arguments.rollout} %), expires {feed['expires']}")


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def check_files(folder, feed):
    """Prints a line for each release; returns the number of releases whose file is wrong."""
    wrong = 0
    for channel, releases in feed["channels"].items():
        for release in releases:
            name = f"{channel} {release['version']}"
            if is_absolute_url(release["url"]):
                print(f"not here: {name}: {release['url']} (not checked)")
                continue
            path = folder / release["url"]
            if not path.is_file():
                print(f"FAILED: {name}: no file {release['url']} in the folder")
                wrong += 1
            elif path.stat().st_size != release["size"]:
                print(f"FAILED: {name}: {release['url']} holds {path.stat().st_size} bytes, "
                      f"the feed says {release['size']}")
                wrong += 1
            elif file_digest(path) != release["sha256"]:
                print(f"FAILED: {name}: the SHA-256 of {release['url']} is not the feed's")
                wrong += 1
            else:
                print(f"ok: {name}: {release['url']}, {release['size']} bytes, SHA-256 matches, "
                      f"rollout {release['rollout']} %")
    return wrong


def check(arguments):
    folder = Path(arguments.folder)
    feed = parse((folder / "feed.json").read_bytes())
    expiry = parse_expiry(feed["expires"])
    if expiry <= datetime.datetime.now(datetime.timezone.utc):
        raise FeedError(f"expired at {feed['expires']}: machines refuse a frozen feed")
    count = sum(len(releases) for releases in feed["channels"].values())
    print(f"ok: feed.json: serial {feed['serial']}, expires {feed['expires']}, "
          f"{count} release(s) in {len(feed['channels'])} channel(s)")
    return 1 if check_files(folder, feed) else 0


def main():
    parser = argparse.ArgumentParser(prog="feed.py")
    commands = parser.add_subparsers(dest="command", required=True)
    adding = commands.add_parser("add")
    adding.add_argument("feed")
    adding.add_argument("new_feed")
    adding.add_argument("--version", required=True)
    adding.add_argument("--file", required=True)
    adding.add_argument("--url", required=True)
    adding.add_argument("--size", required=True, type=int)
    adding.add_argument("--sha256", required=True)
    adding.add_argument("--channel", required=True)
    adding.add_argument("--rollout", required=True, type=int)
    adding.add_argument("--expires-in", required=True, type=int)
    checking = commands.add_parser("check")
    checking.add_argument("folder")
    arguments = parser.parse_args()
    try:
        if arguments.command == "add":
            add(arguments)
            return 0
        return check(arguments)
    except (FeedError, OSError) as error:
        print(f"FAILED: feed.json: {error}",
              file=sys.stderr if arguments.command == "add" else sys.stdout)
        return 1


if __name__ == "__main__":
    sys.exit(main())
