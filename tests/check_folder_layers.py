#!/usr/bin/env python3
"""Keeps the folders layered: a folder includes only from folders on lower
floors, so no two folders need each other and nothing includes the top floor.
The spreadsheet server's parts are layered the same way inside spreadsheet/,
and from outside only its top part is used.

--graph prints the arrows between the spreadsheet server's parts instead."""
import re
import sys
from pathlib import Path

# Ground floor first. Folders on one floor do not include each other.
FLOORS = [
    ["settings"],
    ["uikit", "automation"],
    ["serial", "spreadsheet", "libreoffice"],
    ["scoring"],
    ["forms", "tools"],
    ["app"],
]
FLOOR_OF = {folder: level for level, floor in enumerate(FLOORS) for folder in floor}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.MULTILINE)

# The parts of the built-in spreadsheet server, ground floor first.
SPREADSHEET_FLOORS = [
    ["model"],
    ["xls", "encryption", "formula"],
    ["recalc"],
    ["server"],
]
PART_FLOOR = {part: level for level, floor in enumerate(SPREADSHEET_FLOORS) for part in floor}
SPREADSHEET_INCLUDE = re.compile(r'^\s*#\s*include\s+"spreadsheet/([^"]*)"', re.MULTILINE)
# What the rest of the program may include from spreadsheet/, by folder.
OUTSIDE_USE = {"tools": {"server", "xls"}}
OUTSIDE_DEFAULT = {"server"}


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


def sources(folder: Path):
    return (p for p in sorted(folder.rglob("*")) if p.suffix in (".h", ".cpp"))


def spreadsheet_includes(source: Path):
    """The spreadsheet parts a source includes; None for an include that names no part."""
    for path in SPREADSHEET_INCLUDE.findall(source.read_text(errors="replace")):
        head, _, rest = path.partition("/")
        yield head if rest and head in PART_FLOOR else None, path


def part_arrows(top: Path):
    arrows = {}
    for part in PART_FLOOR:
        for source in sources(top / "spreadsheet" / part):
            for target, _ in spreadsheet_includes(source):
                if target and target != part:
                    arrows.setdefault((part, target), []).append(source.relative_to(top))
    return arrows


def cycle(arrows):
    """A circle among the parts, drawn from the arrows, or None."""
    following = {}
    for a, b in arrows:
        following.setdefault(a, set()).add(b)
    state = {}

    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(following.get(node, ())):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt] if nxt in path else path + [nxt]
            if nxt not in state:
                found = visit(nxt, path + [nxt])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(following):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def spreadsheet_offences(top: Path):
    root = top / "spreadsheet"
    for loose in sorted(p for p in root.iterdir() if p.suffix in (".h", ".cpp")):
        yield f"{loose.relative_to(top)} sits directly in spreadsheet/, outside the parts"
    for folder in sorted(p for p in root.iterdir() if p.is_dir()):
        if folder.name not in PART_FLOOR:
            yield f"spreadsheet/{folder.name}/ is no part the layering knows"
    for part, level in PART_FLOOR.items():
        for source in sources(root / part):
            for target, path in spreadsheet_includes(source):
                if target is None:
                    yield f"{source.relative_to(top)} includes spreadsheet/{path}, which names no part"
                elif target != part and PART_FLOOR[target] >= level:
                    yield f"{source.relative_to(top)} includes spreadsheet/{target}/ (same floor or above)"
    found = cycle(part_arrows(top))
    if found:
        yield "the parts of spreadsheet/ form a circle: " + " -> ".join(found)
    # The rest of the program uses the server, not its parts.
    # The spreadsheet tests and benchmarks look into the parts they test and measure.
    outside = [f for f in FLOOR_OF if f != "spreadsheet"]
    for kind in ("tests", "bench"):
        outside += [f"{kind}/{p.name}" for p in sorted((top / kind).iterdir()) if p.is_dir() and p.name != "spreadsheet"]
    for folder in outside:
        allowed = OUTSIDE_USE.get(folder, OUTSIDE_DEFAULT)
        for source in sources(top / folder):
            for target, path in spreadsheet_includes(source):
                if target not in allowed:
                    yield f"{source.relative_to(top)} includes spreadsheet/{path}; outside spreadsheet/ only {'/, '.join(sorted(allowed))}/ may be used"


def print_graph(top: Path):
    arrows = part_arrows(top)
    for level, floor in enumerate(SPREADSHEET_FLOORS):
        for part in floor:
            below = sorted({b for a, b in arrows if a == part}, key=lambda b: (PART_FLOOR[b], b))
            print(f"floor {level}  {part:<10} -> {', '.join(below) if below else '(nothing)'}")
    found = cycle(arrows)
    print("circle: " + (" -> ".join(found) if found else "none"))


def main():
    args = [a for a in sys.argv[1:] if a != "--graph"]
    top = Path(args[0] if args else Path(__file__).resolve().parent.parent)
    if "--graph" in sys.argv[1:]:
        print_graph(top)
        return 0
    missing = [f for f in FLOOR_OF if not (top / f).is_dir()]
    missing += [f"spreadsheet/{p}" for p in PART_FLOOR if not (top / "spreadsheet" / p).is_dir()]
    found = list(offences(top)) + list(spreadsheet_offences(top))
    for line in missing:
        print(f"missing folder: {line}")
    for line in found:
        print(line)
    return 1 if missing or found else 0


if __name__ == "__main__":
    sys.exit(main())
