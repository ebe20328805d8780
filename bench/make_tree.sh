#!/usr/bin/env bash
# Builds the benchmark trees, reproducibly (fixed seed), under a work folder.
#
#   bench/make_tree.sh [WORKDIR] [tree200k|chain3000|flat100k|tree2m|all]
#
# WORKDIR defaults to bench/work (git-ignored). Each tree is built into WORKDIR/<name> and
# marked complete by WORKDIR/<name>.done; a tree whose marker exists is left alone, a tree
# without one is removed and built again.
#
#   tree200k   ~200,000 files in ~10,500 directories: sizes from 0 to 64 MiB, some large
#              sparse files (3 GiB, via truncate), hidden directories and dot files, symlinks
#              (to a file, to a directory, a loop, a dangling one), empty directories.
#   chain3000  a chain of directories 3,000 levels deep (one file per level); its paths are
#              far longer than PATH_MAX, so everything is created relative to directory fds.
#   flat100k   one directory holding 100,000 files.
#   tree2m     the tree200k layout ten times over (~2,000,000 files, sizes up to 64 KiB so the
#              total stays below 2^40 bytes), for the memory check.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="${1:-$here/work}"
what="${2:-all}"
mkdir -p "$work"
exec python3 - "$work" "$what" <<'PY'
import os, random, shutil, sys

work, what = sys.argv[1], sys.argv[2]
FILE_FLAGS = os.O_CREAT | os.O_WRONLY | os.O_TRUNC | os.O_CLOEXEC
DIR_FLAGS = os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC


def make_file(dfd, name, size):
    fd = os.open(name, FILE_FLAGS, 0o644, dir_fd=dfd)
    if size:
        os.ftruncate(fd, size)  # sparse: the length is real, the blocks are not
    os.close(fd)


def make_dir(dfd, name):
    os.mkdir(name, 0o755, dir_fd=dfd)
    return os.open(name, DIR_FLAGS, dir_fd=dfd)


def file_size(rng):
    r = rng.random()
    if r < 0.08:
        return 0
    if r < 0.70:
        return rng.randint(1, 8192)
    if r < 0.97:
        return rng.randint(8193, 1 << 20)
    if r < 0.9995:
        return rng.randint(1 << 20, 64 << 20)
    return 3 << 30  # 3 GiB, more than 32 bits


def small_size(rng):
    return rng.randint(0, 65536)


def build_tree(root, copies, seed, sizes=file_size):
    """copies x (21 x 20 x 24 directories, 20 files per middle and 19 per leaf directory)."""
    rng = random.Random(seed)
    rfd = os.open(root, DIR_FLAGS)
    dirs = files = 0
    for c in range(copies):
        base = rfd
        if copies > 1:
            base = make_dir(rfd, "copy%02d" % c)
            dirs += 1
        for a in range(21):
            afd = make_dir(base, "a%02d" % a)
            dirs += 1
            for b in range(20):
                bfd = make_dir(afd, "b%02d" % b)
                dirs += 1
                for f in range(20):
                    make_file(bfd, "m%02d.dat" % f, sizes(rng))
                    files += 1
                for l in range(24):
                    lfd = make_dir(bfd, "leaf%02d" % l)
                    dirs += 1
                    n = 19 if (a + b + l) % 50 else 0  # a few empty directories
                    for f in range(n):
                        make_file(lfd, "file%03d.txt" % f, sizes(rng))
                        files += 1
                    os.close(lfd)
                os.close(bfd)
            # Per top-level directory: hidden things, never counted inside.
            hfd = make_dir(afd, ".hidden")
            dirs += 1
            for f in range(30):
                make_file(hfd, "secret%02d" % f, rng.randint(0, 4096))
            sfd = make_dir(hfd, "sub")
            make_file(sfd, "deep", 12345)
            os.close(sfd)
            os.close(hfd)
            make_file(afd, ".dotfile", 777)
            make_file(afd, "visible.txt", 1234)
            os.close(afd)
        if copies > 1:
            os.close(base)
    # Links: never followed; each counts as a file of its own length.
    os.symlink("a00/visible.txt", "link-to-file", dir_fd=rfd)
    os.symlink("a01", "link-to-dir", dir_fd=rfd)
    os.symlink(".", "loop", dir_fd=rfd)
    os.symlink("does-not-exist", "dangling", dir_fd=rfd)
    os.symlink("a02", ".hidden-link", dir_fd=rfd)
    os.mkdir("empty", dir_fd=rfd)
    os.close(rfd)
    return dirs, files


def build_chain(root, depth):
    fd = os.open(root, DIR_FLAGS)
    for level in range(depth):
        make_file(fd, "f", level)
        nfd = make_dir(fd, "d")
        os.close(fd)
        fd = nfd
    make_file(fd, "bottom", 42)
    os.close(fd)


def build_flat(root, n, seed):
    rng = random.Random(seed)
    fd = os.open(root, DIR_FLAGS)
    for i in range(n):
        make_file(fd, "f%06d" % i, rng.randint(0, 65536))
    os.close(fd)


def remove(path):
    # shutil.rmtree works on fds, so the 3,000-level chain is removable too.
    if os.path.lexists(path):
        shutil.rmtree(path)


def ensure(name, builder):
    root = os.path.join(work, name)
    done = root + ".done"
    if os.path.exists(done):
        print("%s: present" % root)
        return
    remove(root)
    os.mkdir(root)
    builder(root)
    open(done, "w").close()
    print("%s: built" % root)


targets = {
    "tree200k": lambda r: build_tree(r, 1, 200),
    "chain3000": lambda r: build_chain(r, 3000),
    "flat100k": lambda r: build_flat(r, 100000, 100),
    "tree2m": lambda r: build_tree(r, 10, 2000, small_size),
}
names = ["tree200k", "chain3000", "flat100k"] if what == "all" else [what]
for n in names:
    if n not in targets:
        sys.exit("make_tree.sh: unknown tree %r (one of %s, all)" % (n, ", ".join(targets)))
    ensure(n, targets[n])
PY
