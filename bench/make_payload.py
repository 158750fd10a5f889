#!/usr/bin/env python3
"""Writes the benchmark payloads: the same bytes and file times on every machine.

Usage: make_payload.py <output folder>

Creates <output>/large/payload (about 300 files, about 120 MB) and
<output>/small/payload (about 70 files, about 20 MB). Both have the same mix: text
that compresses well (source code, logs, documentation), data that does not
(already compressed media and archives), a few files of 10 to 30 MB and many of 1 to
50 KB, in nested folders. Everything is derived from fixed seeds, so a run of the
benchmark anywhere installs the same payload. An existing, complete set is kept.
"""
import os
import random
import sys

# Every file gets this modification time plus its index in minutes (2023-06-01 12:00 UTC).
BASE_TIME = 1685620800

WORDS = (
    "int return value index count name std::string const auto if else for while "
    "break continue struct class namespace template typename size_t uint32_t bool "
    "true false nullptr void static inline public private protected virtual override "
    "buffer length offset result error status file path folder record section key"
).split()
LOG_WORDS = "INFO WARN DEBUG opened closed copied extracted record file folder took ms".split()


def text_bytes(rng, size, kind):
    """Source-like or log-like text of exactly size bytes (compresses about 4:1)."""
    lines = []
    total = 0
    # A pool of lines, reused with variations, keeps generation fast and the text
    # about as repetitive as real source trees are.
    pool = []
    for _ in range(400):
        if kind == "log":
            line = "2023-06-01 12:%02d:%02d.%03d %s %s" % (
                rng.randrange(60), rng.randrange(60), rng.randrange(1000),
                rng.choice(LOG_WORDS[:3]),
                " ".join(rng.choice(LOG_WORDS) for _ in range(rng.randrange(3, 12))))
        else:
            indent = "    " * rng.randrange(0, 4)
            line = indent + " ".join(rng.choice(WORDS) for _ in range(rng.randrange(2, 14)))
            line += rng.choice([";", " {", "", ");", " }"])
        pool.append(line + "\r\n")
    while total < size:
        line = rng.choice(pool)
        if rng.random() < 0.1:
            line = line.replace("value", "value%d" % rng.randrange(10000))
        lines.append(line)
        total += len(line)
    return "".join(lines).encode("ascii")[:size]


def binary_bytes(rng, size):
    """Data that does not compress (as media files and archives)."""
    return rng.randbytes(size)


def mixed_bytes(rng, size):
    """Half structured records that compress somewhat, half noise (as program files)."""
    out = bytearray()
    while len(out) < size:
        run = rng.randrange(256, 8192)
        if rng.random() < 0.5:
            out += rng.randbytes(run)
        else:
            rec = bytes(rng.randrange(16) for _ in range(32))
            out += rec * (run // 32 + 1)
    return bytes(out[:size])


KINDS = {
    ".cpp": "text", ".h": "text", ".txt": "text", ".ini": "text", ".log": "log",
    ".html": "text", ".xml": "text",
    ".png": "binary", ".jpg": "binary", ".zip": "binary", ".ogg": "binary",
    ".dll": "mixed", ".exe": "mixed", ".dat": "mixed",
}

FOLDERS = [
    "", "bin", "bin\\plugins", "bin\\plugins\\codecs", "lib", "docs", "docs\\manual",
    "docs\\manual\\images", "data", "data\\levels", "data\\levels\\extra", "data\\sounds",
    "share\\locale\\de", "share\\locale\\fr", "share\\locale\\ja", "examples\\src",
    "examples\\src\\util", "logs",
]


def plan(seed, big_files, small_count, medium_count, medium_max):
    """The list of (relative path, kind, size): the big files, then many small ones
    and some medium ones."""
    rng = random.Random(seed)
    files = []
    for i, (ext, size) in enumerate(big_files):
        files.append(("data\\big%02d%s" % (i, ext), size))
    exts = list(KINDS)
    for i in range(small_count):
        ext = rng.choice(exts)
        folder = rng.choice(FOLDERS)
        name = "%s%sf%03d%s" % (folder, "\\" if folder else "", i, ext)
        files.append((name, rng.randrange(1024, 50 * 1024)))
    for i in range(medium_count):
        ext = rng.choice(exts)
        folder = rng.choice(FOLDERS[1:])
        files.append(("%s\\m%03d%s" % (folder, i, ext), rng.randrange(100 * 1024, medium_max)))
    return files


def write_set(root, seed, files):
    marker = os.path.join(root, ".complete")
    if os.path.exists(marker):
        return
    total = 0
    for index, (rel, size) in enumerate(files):
        ext = os.path.splitext(rel)[1]
        rng = random.Random("%d:%s" % (seed, rel))
        kind = KINDS[ext]
        if kind == "binary":
            data = binary_bytes(rng, size)
        elif kind == "mixed":
            data = mixed_bytes(rng, size)
        else:
            data = text_bytes(rng, size, kind)
        path = os.path.join(root, "payload", *rel.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        t = BASE_TIME + 60 * index
        os.utime(path, (t, t))
        total += size
    with open(marker, "w") as f:
        f.write("%d files, %d bytes\n" % (len(files), total))


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = sys.argv[1]
    large = plan(1, [(".log", 12 << 20), (".zip", 25 << 20), (".dat", 18 << 20),
                     (".ogg", 10 << 20)], 264, 36, 2 << 20)
    small = plan(2, [(".zip", 10 << 20)], 60, 8, 2 << 20)
    for name, seed, files in (("large", 1, large), ("small", 2, small)):
        root = os.path.join(out, name)
        write_set(root, seed, files)
        with open(os.path.join(root, ".complete")) as f:
            print("%s: %s" % (name, f.read().strip()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
