#!/usr/bin/env python3
"""Checks that source files include only what scripts/layers.txt allows.

    scripts/check_layers.py              check the tree, exit 1 on any violation
    scripts/check_layers.py --self-test  check the checker on throwaway trees
"""
import os
import re
import subprocess
import sys
import tempfile

SOURCE_EXTS = (".h", ".hpp", ".cpp", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^Q[A-Za-z]")


class Layers:
    def __init__(self):
        self.rank = {}  # folder -> rank, lowest 0
        self.apart = {}  # folder -> folders it may include besides itself
        self.qt_free = set()
        self.unchecked = set()

    def known(self, folder):
        return folder in self.rank or folder in self.apart or folder in self.unchecked


def parse_layers(path):
    layers = Layers()
    seen = set()
    next_rank = 0

    def claim(folder, where):
        if folder in seen:
            raise SystemExit(f"{where}: {folder} is listed twice")
        seen.add(folder)

    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            where = f"{path}:{number}"
            head, colon, tail = line.partition(":")
            words = head.split()
            if not colon:
                for folder in words:
                    claim(folder, where)
                    layers.rank[folder] = next_rank
                next_rank += 1
                continue
            if words[0] == "apart" and len(words) == 2:
                claim(words[1], where)
                layers.apart[words[1]] = set(tail.split())
            elif words == ["qt-free"]:
                layers.qt_free.update(tail.split())
            elif words == ["unchecked"]:
                for folder in tail.split():
                    claim(folder, where)
                    layers.unchecked.add(folder)
            else:
                raise SystemExit(f"{where}: cannot read '{line}'")
    # A typo here would silently exempt a folder, so every name must be a layer.
    for folder in layers.qt_free | set().union(*layers.apart.values()):
        if folder not in layers.rank and folder not in layers.apart:
            raise SystemExit(f"{path}: {folder} is used but not listed as a layer")
    return layers


def source_files(root, layers):
    if os.path.exists(os.path.join(root, ".git")):
        try:
            out = subprocess.run(
                ["git", "-C", root, "ls-files", "-z", "--"] + ["*" + e for e in SOURCE_EXTS],
                check=True, capture_output=True).stdout
            return sorted(p for p in out.decode().split("\0") if p)
        except (OSError, subprocess.CalledProcessError):
            pass
    found = []
    for folder in list(layers.rank) + list(layers.apart):
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            rel = os.path.relpath(dirpath, root)
            found += [os.path.join(rel, n) for n in names if n.endswith(SOURCE_EXTS)]
    return sorted(p.replace(os.sep, "/") for p in found)


def generated_beside(name):
    # moc and uic write these into the build folder, next to nothing in the tree.
    return "/" not in name and (name.endswith(".moc") or name.startswith(("moc_", "ui_")))


def judge(layer, target_folder, layers):
    """Why `layer` may not include from `target_folder`, or None if it may."""
    if target_folder == layer:
        return None
    if layer in layers.apart:
        if target_folder in layers.apart[layer]:
            return None
        if layers.known(target_folder):
            return f"outside what {layer} may include"
        return "not in layers.txt"
    if target_folder in layers.rank:
        if layers.rank[target_folder] < layers.rank[layer]:
            return None
        if layers.rank[target_folder] == layers.rank[layer]:
            return "same rank"
        return "a layer above"
    if target_folder in layers.apart:
        return "kept apart"
    if target_folder in layers.unchecked:
        return "not a layer"
    return "not in layers.txt"


def check(root, layers_path):
    layers = parse_layers(layers_path)
    violations = []
    files = includes = 0
    for path in source_files(root, layers):
        layer = path.split("/", 1)[0] if "/" in path else ""
        if layer in layers.unchecked:
            continue
        if layer not in layers.rank and layer not in layers.apart:
            violations.append(f"{path}: {layer or 'the repo root'} is not in layers.txt")
            continue
        full = os.path.join(root, path)
        if not os.path.isfile(full):
            continue  # tracked but deleted in this working copy
        files += 1
        here = os.path.dirname(path)
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, text in enumerate(f, 1):
                m = INCLUDE.match(text)
                if not m:
                    continue
                delim, name = m.groups()
                where = f"{path}:{number}"
                target = None
                if delim == '"':
                    beside = os.path.normpath(os.path.join(here, name)).replace(os.sep, "/")
                    if not beside.startswith("../") and os.path.isfile(os.path.join(root, beside)):
                        target = beside
                if target is None:
                    if QT_HEADER.match(name):
                        if layer in layers.qt_free:
                            violations.append(f"{where}: {layer} includes <{name}>, a Qt header")
                        continue
                    first = name.split("/", 1)[0]
                    if delim == "<" and not layers.known(first):
                        continue  # a system or library header
                    if generated_beside(name):
                        continue
                    if "/" not in name:
                        violations.append(f"{where}: {layer} includes {name}, found neither "
                                          "beside it nor under a folder of layers.txt")
                        continue
                    target = os.path.normpath(name).replace(os.sep, "/")
                includes += 1
                target_folder = target.split("/", 1)[0]
                why = judge(layer, target_folder, layers)
                if why:
                    violations.append(f"{where}: {layer} includes {target} of {target_folder}, {why}")
    return violations, files, includes


def self_test():
    layers_txt = """# lowest first
platform
engine
app
ui
entry tools
apart render:
apart infotool: render
qt-free: render infotool
unchecked: tests
"""
    clean = {
        "platform/p.h": "#include <QString>\n",
        "platform/p.cpp": '#include "platform/p.h"\n#include <vector>\n',
        "engine/e.h": '#include "platform/p.h"\n',
        "engine/sub/s.h": "",
        "engine/sub/s.cpp": '#include "s.h"\n#include "engine/e.h"\n#include "s.moc"\n',
        "ui/u.h": '#include "engine/e.h"\n',
        "entry/main.cpp": '#include "ui/u.h"\n#include "platform/p.h"\n',
        "render/common/c.h": "#include <vector>\n",
        "render/tool/r.cpp": '#include "render/common/c.h"\n#include "../common/c.h"\n',
        "infotool/i.cpp": '#include "render/common/c.h"\n',
        "tests/t.cpp": '#include "render/common/c.h"\n#include "ui/u.h"\n',
    }
    cases = [
        ("clean tree", {}, []),
        ("upward include", {"platform/bad.cpp": '#include <vector>\n#include "engine/e.h"\n'},
         ["platform/bad.cpp:2: platform includes engine/e.h of engine, a layer above"]),
        ("Qt in render", {"render/tool/q.cpp": '#include "render/common/c.h"\n#include <QString>\n'},
         ["render/tool/q.cpp:2: render includes <QString>, a Qt header"]),
        ("unknown folder", {"app/a.cpp": '#include "vendor/v.h"\n'},
         ["app/a.cpp:1: app includes vendor/v.h of vendor, not in layers.txt"]),
    ]
    failed = 0
    for title, extra, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            with open(os.path.join(root, "layers.txt"), "w", encoding="utf-8") as f:
                f.write(layers_txt)
            for rel, text in {**clean, **extra}.items():
                os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
                with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                    f.write(text)
            got = check(root, os.path.join(root, "layers.txt"))[0]
        if got != expected:
            failed += 1
            print(f"self-test {title}: expected {expected}, got {got}")
    if failed:
        return 1
    print(f"check_layers self-test: {len(cases)} cases pass")
    return 0


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    if argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    violations, files, includes = check(root, os.path.join(root, "scripts", "layers.txt"))
    for v in violations:
        print(v)
    if violations:
        print(f"check_layers: {len(violations)} violations", file=sys.stderr)
        return 1
    print(f"check_layers: {files} files, {includes} project includes, layering holds")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
