#!/usr/bin/python3
"""The dependency rule of the source tree, read from the includes.

Each folder may include its own headers and those of the folders the rule
lets it depend on, directly or through another folder (the rule is a
layering, so an include that skips a layer downwards is fine). An include
that points up or sideways fails, naming the file, the line and the arrow.
Qt Widgets are included only in the folders that hold windows.
"""
import os
import re
import sys

# folder -> the folders it builds on (docs/architecture.md draws these).
RULE = {
    "support": [],
    "support/qt": ["support"],
    "io": ["support"],
    "automation": ["support"],
    "scope": ["io", "automation"],
    "waveform": ["scope"],
    "setupfile": ["scope"],
    "measure": ["scope"],
    "dialog": ["measure", "setupfile", "waveform", "support/qt"],
    "addin": ["dialog"],
    "sim/instrument": ["io"],
    "sim/fronts": ["sim/instrument", "io"],
    "sim/launch": [],
    "host": ["automation", "support"],
    "host/qt": ["host"],
    "host/formats": ["host"],
    "host/bench": ["host", "dialog"],
    "apps/wavecatch": ["host/formats", "host/bench", "host/qt", "sim/launch"],
    "apps/halvio-sim": ["sim/fronts"],
    "python": ["host/formats", "host/bench", "host/qt"],
}
# The public C header of the module, which every host may use.
PUBLIC = {"cvnWCHalv.h"}
WIDGET_FOLDERS = {"support/qt", "dialog", "host/qt"}
WIDGETS = re.compile(
    r"#include\s*<(QtWidgets/|QApplication|QWidget|QDialog|QMessageBox|QLabel|QProgressDialog|"
    r"QPushButton|QLineEdit|QComboBox|QCheckBox|QTabWidget|QTableWidget|QFileDialog|QMainWindow)"
)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The rule's folder of a path (a source file or an include)."""
    parts = path.split("/")
    for depth in (2, 1):
        key = "/".join(parts[:depth])
        if key in RULE and len(parts) > depth:
            return key
    return None


def closure(name, seen=None):
    seen = set() if seen is None else seen
    for dep in RULE[name]:
        if dep not in seen:
            seen.add(dep)
            closure(dep, seen)
    return seen


def check(root):
    faults = []
    allowed = {name: closure(name) | {name} for name in RULE}
    for top in sorted({name.split("/")[0] for name in RULE}):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if not f.endswith((".cpp", ".h")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, f), root)
                src = folder_of(path)
                if src is None:
                    faults.append(f"{path}: in no folder of the rule")
                    continue
                text = open(os.path.join(root, path), encoding="utf-8", errors="replace").read()
                for m in INCLUDE.finditer(text):
                    inc = m.group(1)
                    line = text.count("\n", 0, m.start()) + 1
                    if inc in PUBLIC or "/" not in inc:
                        continue
                    dst = folder_of(inc)
                    if dst is None:
                        faults.append(f"{path}:{line}: includes {inc}, in no folder of the rule")
                    elif dst not in allowed[src]:
                        faults.append(f"{path}:{line}: {src} -> {dst} is against the rule ({inc})")
                if src not in WIDGET_FOLDERS:
                    for m in WIDGETS.finditer(text):
                        line = text.count("\n", 0, m.start()) + 1
                        faults.append(f"{path}:{line}: Qt Widgets outside the window folders")
    return faults


if __name__ == "__main__":
    faults = check(sys.argv[1] if len(sys.argv) > 1 else ".")
    for fault in faults:
        print(fault)
    sys.exit(1 if faults else 0)
