#!/usr/bin/env python3
"""The trees the benchmarks scan and compare, one generator for all of them (fixed seeds, so
every run and every bench sees the same tree), and the changes the compare benchmarks make.

usage: make_tree.py SHAPE DIR          makes DIR (which must not exist) in that shape
       make_tree.py change-some DIR    100 files touched, 50 added, 50 deleted, a folder with one
                                       file added, a folder and what it holds deleted
       make_tree.py change-few DIR     5 files touched in each of three folders, as an update of
                                       one program does
       make_tree.py change-all DIR     every file's modification time set to 2030-01-01

Shapes (each 300,000 files):
  plain  30,000 folders, each under a random earlier one; about 10 files a folder, short ASCII
         names, sizes up to 200,000 bytes without data (sparse)
  wide   9,930 folders: 30 x 30 x 10 levels, 33 files in each of the 9,000 lowest, a few above;
         short ASCII names, up to 49 bytes each
  real   the shape of a system drive: 30,000 folders as in plain, about 10 files a folder; names
         long (up to 200 bytes), accented, Cyrillic, CJK and beyond the BMP (emoji, musical
         symbols) beside short ASCII ones; sizes mostly under 1 KB, some to 64 KB, a few to
         1 MB, of real (random) bytes
"""
import os
import random
import sys
import time


def set_time(path, rng):
    t = 1500000000 + rng.randrange(0, 200000000)
    os.utime(path, ns=(t * 10**9, t * 10**9 + rng.randrange(0, 10**9)))


def bushy_folders(root, rng, count, name):
    """count folders, root first; each new one goes under a random earlier one, which gives a
    bushy tree a few dozen levels deep at most, like a real drive."""
    folders = [root]
    for i in range(1, count):
        parent = folders[rng.randrange(len(folders))] if rng.random() < 0.7 else folders[-1]
        path = os.path.join(parent, name(i))
        os.mkdir(path)
        folders.append(path)
    return folders


def make_plain(root):
    rng = random.Random(20261208)
    folders = bushy_folders(root, rng, 30000, lambda i: "dir%05d" % i)
    for i in range(300000):
        folder = folders[rng.randrange(len(folders))]
        name = "file%06d.%s" % (i, rng.choice(["txt", "dll", "exe", "dat", "ini"]))
        path = os.path.join(folder, name)
        with open(path, "wb"):
            pass
        os.truncate(path, rng.randrange(0, 200000))
        set_time(path, rng)


def make_wide(root):
    block = b"k" * 4096

    def write(path, size, mtime):
        with open(path, "wb") as f:
            f.write(block[:size])
        os.utime(path, (mtime, mtime))

    for a in range(30):
        da = os.path.join(root, "d%d" % a)
        os.mkdir(da)
        for i in range(10):
            write(os.path.join(da, "top%d.dat" % i), i * 7, 1500000000)
        for b in range(30):
            db = os.path.join(da, "e%d" % b)
            os.mkdir(db)
            for i in range(3):
                write(os.path.join(db, "mid%d.dat" % i), i * 11, 1500000000)
            for c in range(10):
                dc = os.path.join(db, "f%d" % c)
                os.mkdir(dc)
                for i in range(33):
                    write(os.path.join(dc, "file%d.txt" % i), (a + b + c + i) % 50, 1500000000 + i)


# Pieces of names as a Windows drive holds them: side-by-side assembly folders, vendors' long
# product names, documents in the users' languages, and emoji and symbols beyond the BMP.
WORDS = ["Microsoft", "Windows", "Common-Controls", "amd64", "wow64", "x86", "Données",
         "Résumé", "Übersicht", "Größe", "Programme", "Программы", "Документы", "Настройки",
         "文档", "設定", "プログラム", "사진", "Ελληνικά", "עברית", "🎵", "📁", "😀", "𝄞", "𐐷",
         "🀄", "Update", "Cache", "Temp", "Fonts", "drivers", "Assembly", "NativeImages"]
EXTENSIONS = ["dll", "exe", "txt", "dat", "ini", "mui", "manifest", "cat", "png", "xml", "json"]


def mixed_name(rng, i):
    """A name unique by i, of one of four kinds, at most 200 bytes in UTF-8."""
    kind = rng.random()
    if kind < 0.4:
        return "%s%06d.%s" % (rng.choice(["file", "a", "setup", "lib"]), i, rng.choice(EXTENSIONS))
    if kind < 0.6:  # a long side-by-side name
        name = "%s_%s_%016x_%d.%d.%d.%d_none_%016x" % (
            rng.choice(["amd64", "x86", "wow64", "msil"]), "microsoft-windows-" + rng.choice(WORDS).lower(),
            rng.getrandbits(64), rng.randrange(11), rng.randrange(10), rng.randrange(30000),
            rng.randrange(5000), rng.getrandbits(64))
    else:  # words of any script, beyond the BMP included
        name = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 12)))
    name = "%s %06d.%s" % (name, i, rng.choice(EXTENSIONS))
    while len(name.encode()) > 200:
        name = name[1:]
    return name.lstrip(". ")


def make_real(root):
    rng = random.Random(20261209)
    folders = bushy_folders(root, rng, 30000, lambda i: mixed_name(rng, i).rsplit(".", 1)[0])
    data = rng.randbytes(1 << 20)
    for i in range(300000):
        folder = folders[rng.randrange(len(folders))]
        path = os.path.join(folder, mixed_name(rng, i))
        kind = rng.random()
        size = (rng.randrange(0, 1024) if kind < 0.7 else rng.randrange(1024, 8192) if kind < 0.95
                else rng.randrange(8192, 65536) if kind < 0.999 else rng.randrange(65536, 1 << 20))
        with open(path, "wb") as f:
            f.write(data[:size])
        set_time(path, rng)


def all_files(root):
    found = []
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        found.extend(os.path.join(folder, f) for f in sorted(files))
    return found


def change_some(root):
    files = all_files(root)
    step = len(files) // 200
    for k in range(100):
        os.utime(files[2 * k * step], (1700000000 + k, 1700000000 + k))
    for k in range(50):
        os.unlink(files[(2 * k + 1) * step])
        path = os.path.join(os.path.dirname(files[(2 * k + 1) * step + 1]), "new%d.txt" % k)
        with open(path, "wb") as f:
            f.write(b"new file")
        os.utime(path, (1700000000, 1700000000))
    added = os.path.join(os.path.dirname(files[len(files) // 3]), "added")
    os.mkdir(added)
    with open(os.path.join(added, "one.txt"), "wb") as f:
        f.write(b"1")
    leaves = [folder for folder, subfolders, _ in os.walk(root) if not subfolders]
    gone = sorted(leaves)[-1]
    for f in os.listdir(gone):
        os.unlink(os.path.join(gone, f))
    os.rmdir(gone)


def change_few(root):
    files = all_files(root)
    for at in (len(files) // 5, len(files) // 2, 4 * len(files) // 5):
        folder = os.path.dirname(files[at])
        for name in sorted(os.listdir(folder))[:5]:
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                os.utime(path, (1800000000, 1800000000))


def change_all(root):
    t = time.mktime((2030, 1, 1, 0, 0, 0, 0, 0, -1))
    for path in all_files(root):
        os.utime(path, (t, t))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    what, root = sys.argv[1], sys.argv[2]
    makers = {"plain": make_plain, "wide": make_wide, "real": make_real}
    if what in makers:
        os.makedirs(root)
        makers[what](root)
    elif what == "change-some":
        change_some(root)
    elif what == "change-few":
        change_few(root)
    elif what == "change-all":
        change_all(root)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
