#!/usr/bin/env python3
"""Keeps the folders layered: a folder includes only from folders on lower
floors, so no two folders need each other and nothing includes the top floor."""
import re
import sys
from pathlib import Path

# Ground floor first. Folders on one floor do not include each other.
FLOORS = [
    ["settings"],
    ["uikit", "automation"],
    ["serial", "spreadsheet", "libreoffice"],
    ["forms", "tools"],
    ["app"],
]
FLOOR_OF = {folder: level for level, floor in enumerate(FLOORS) for folder in floor}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.MULTILINE)


def offences(top: Path):
    for folder, level in FLOOR_OF.items():
        for source in sorted((top / folder).rglob("*")):
            if source.suffix not in (".h", ".cpp"):
                continue
            for target in INCLUDE.findall(source.read_text(errors="replace")):
                if target == folder or target not in FLOOR_OF:
                    continue
                if FLOOR_OF[target] >= level:
                    yield f"{source.relative_to(top)} includes {target}/ (same floor or above)"


def main():
    top = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    missing = [f for f in FLOOR_OF if not (top / f).is_dir()]
    found = list(offences(top))
    for line in missing:
        print(f"missing folder: {line}")
    for line in found:
        print(line)
    return 1 if missing or found else 0


if __name__ == "__main__":
    sys.exit(main())
