#!/usr/bin/env python3
"""Fails when a library under src/ depends on one it must not: by an #include of another
folder's header, or by a link in its CMakeLists.txt.

The layers, top to bottom: gui, cli -> app -> formats -> engine -> tags -> base, and
formats -> platform -> base. A folder may use the folders below it, never one above it or
beside it; the windows and the command line reach the formats and the platform only
through app. Qt is for the windows alone.

Usage: check_layers.py [SOURCE_ROOT]   (default: the src folder beside this script's folder)
"""
import os
import re
import sys

# Folder (below src/) -> the folders it may use.
ALLOWED = {
    "base": set(),
    "tags": {"base"},
    "engine": {"tags", "base"},
    "platform/ffmpeg": {"base"},
    "platform/acm": {"platform/ffmpeg", "base"},
    "platform/wmf": {"platform/ffmpeg", "base"},
    "formats/wav": {"engine", "tags", "base", "platform/acm", "platform/ffmpeg"},
    "formats/mp3": {"engine", "tags", "base"},
    "formats/wm": {"engine", "tags", "base", "platform/wmf", "platform/ffmpeg"},
    "app": {"formats/wav", "formats/mp3", "formats/wm", "engine", "tags", "base"},
    "cli": {"app", "engine", "tags", "base"},
    "gui": {"app", "engine", "tags", "base"},
}
QT_FOLDERS = {"gui"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
ADD_LIBRARY = re.compile(r"add_library\(\s*(\w+)")
LINKS = re.compile(r"target_link_libraries\(\s*(\w+)([^)]*)\)", re.S)


def folder_of(root, path):
    rel = os.path.relpath(os.path.dirname(path), root).replace(os.sep, "/")
    for folder in sorted(ALLOWED, key=len, reverse=True):
        if rel == folder or rel.startswith(folder + "/"):
            return folder
    return None


def source_files(root):
    for dirpath, _, names in os.walk(root):
        for name in sorted(names):
            yield os.path.join(dirpath, name)


def header_owners(root, problems):
    owners = {}
    for path in source_files(root):
        if path.endswith(".h"):
            name = os.path.basename(path)
            folder = folder_of(root, path)
            if name in owners and owners[name] != folder:
                problems.append(f"{path}: the header name {name} is also in src/{owners[name]}: "
                                "includes by name would be ambiguous")
            owners[name] = folder
    return owners


def check_includes(root, owners, problems):
    for path in source_files(root):
        if not path.endswith((".h", ".cpp")):
            continue
        folder = folder_of(root, path)
        if folder is None:
            problems.append(f"{path}: in no known layer (add its folder to {sys.argv[0]})")
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, header = m.groups()
                if kind == "<":
                    if header.startswith("Q") and folder not in QT_FOLDERS:
                        problems.append(f"{path}:{number}: includes <{header}>: Qt is for src/gui only")
                    continue
                target = owners.get(os.path.basename(header))
                if target is None or target == folder or target in ALLOWED[folder]:
                    continue
                problems.append(f"{path}:{number}: includes {header} of src/{target}: "
                                f"src/{folder} may not depend on src/{target}")


def check_links(root, problems):
    target_folder = {}
    lists = [p for p in source_files(root) if os.path.basename(p) == "CMakeLists.txt"]
    for path in lists:
        with open(path, encoding="utf-8") as f:
            for name in ADD_LIBRARY.findall(f.read()):
                target_folder[name] = folder_of(root, path)
    for path in lists:
        folder = folder_of(root, path)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for _, linked in LINKS.findall(text):
            for name in re.findall(r"[\w:]+", linked):
                if name.startswith("Qt6::") and folder not in QT_FOLDERS:
                    problems.append(f"{path}: links {name}: Qt is for src/gui only")
                target = target_folder.get(name)
                if target is None or target == folder or target in ALLOWED.get(folder, set()):
                    continue
                problems.append(f"{path}: links {name} of src/{target}: "
                                f"src/{folder} may not depend on src/{target}")


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    root = os.path.relpath(root)
    problems = []
    owners = header_owners(root, problems)
    check_includes(root, owners, problems)
    check_links(root, problems)
    for p in problems:
        print(p)
    if problems:
        print(f"layer check: {len(problems)} edge(s) against the direction of the layers")
        return 1
    print("layer check: every dependency points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
