#!/usr/bin/env python3
"""Checks that every source file of a product target includes only headers of
libraries that its target links directly (our own libraries and Qt modules),
and that every target links only libraries whose headers it includes.

Usage: check_includes.py LINK_MAP QT_INCLUDE_DIR
LINK_MAP is written by CMake (build/link_map.tsv): one line per target with
its source directory, its sources and the libraries it links.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

# The arrows of design.md: the folders whose libraries each folder's libraries
# may link. The stand-in unit knows the wire only; the dry run's executor
# brings the command table to it from outside. A trace of the unit (transfer)
# runs the dry run's model beside the unit's readings: the dry run sits below
# the transfers, knowing neither the link nor them.
ARROWS = {
    "platform": [],
    "program": ["platform"],
    "files": ["program", "platform"],
    "simulator": ["platform"],
    "dryrun": ["program", "simulator", "platform"],
    "link": ["files", "program", "platform"],
    "transfer": ["link", "files", "program", "platform", "dryrun"],
    "tools": ["transfer", "link", "files", "program", "platform"],
    "main_window": ["tools", "transfer", "link", "files", "program", "platform", "dryrun"],
}


def folder_of(target):
    return target[:-len("_widgets")] if target.endswith("_widgets") else target


def main(link_map, qt_include):
    targets = {}
    owner = {"version.h": "version"}  # generated from project(VERSION)
    for line in open(link_map, encoding="utf-8"):
        name, directory, sources, links = (line.rstrip("\n").split("\t") + [""] * 4)[:4]
        folder = os.path.basename(directory)
        files = [s for s in sources.split(",") if s]
        targets[name] = (directory, files, set(l for l in links.split(",") if l))
        for source in files:
            if source.endswith(".h"):
                owner[f"{folder}/{source}"] = name
    folders = {key.split("/")[0] for key in owner if "/" in key}

    qt_module = {}
    for module in os.listdir(qt_include):
        path = os.path.join(qt_include, module)
        if module.startswith("Qt") and os.path.isdir(path):
            for header in os.listdir(path):
                qt_module.setdefault(header, "Qt6::" + module[2:])

    problems = []
    for name, (directory, files, links) in sorted(targets.items()):
        used = set()
        for source in files:
            path = os.path.join(directory, source)
            text = open(path, encoding="utf-8").read()
            for kind, header in INCLUDE.findall(text):
                if kind == '"':
                    needed = owner.get(header)
                    if needed is None:
                        if header.split("/")[0] in folders:
                            problems.append(f"{path}: {header} belongs to no library")
                        continue
                else:
                    needed = qt_module.get(header)
                    if needed is None:
                        continue  # the standard library or the system
                used.add(needed)
                if needed != name and needed not in links:
                    problems.append(f"{path}: includes {header} of {needed}, "
                                    f"which {name} does not link")
        for unused in sorted(links - used):
            # Qt Core comes with every Qt target, whatever it includes.
            if unused in targets or unused == "version" or (
                    unused.startswith("Qt6::") and unused != "Qt6::Core"):
                problems.append(f"{name} links {unused} but includes none of its headers")
    for name, (_, _, links) in sorted(targets.items()):
        folder = folder_of(name)
        if folder not in ARROWS:
            continue
        allowed = set(ARROWS[folder]) | {folder}
        for linked in sorted(l for l in links if l in targets):
            if folder_of(linked) not in allowed:
                problems.append(f"{name} links {linked}, against the arrows of the design")
            elif linked.endswith("_widgets") and not name.endswith("_widgets"):
                problems.append(f"{name} links {linked}: only windows link windows")
    for problem in problems:
        print(problem)
    print(f"{len(targets)} targets checked: "
          f"{'every include is linked' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
