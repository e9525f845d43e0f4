#!/usr/bin/python3
"""Check every relative link and image of README.md and docs/*.md.

usage: scripts/check_links.py [ROOT]

A link's file must exist (relative to the Markdown file that holds it), and
a #section must name a heading of the Markdown file it points to (in the
form the repository host gives headings: lower case, punctuation dropped,
blanks as hyphens).  Links with a scheme (https:, mailto:) are not checked.
Each broken link is named as FILE:LINE: TARGET (reason); the exit status is
1 when there is one, else 0.
"""
import re
import sys
from pathlib import Path
from urllib.parse import unquote

INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*(<[^>]*>|[^)\s]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")


def prose_lines(text):
    """(line number, line) outside fenced code blocks."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        if fence is None and stripped.startswith(("```", "~~~")):
            fence = stripped[:3]
            continue
        if fence is not None:
            if stripped.startswith(fence):
                fence = None
            continue
        yield number, line


def slug(heading):
    text = CODE_SPAN.sub(lambda m: m.group(2), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"[^\w\- ]", "", text.strip().lower())
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen, found = {}, set()
        for _, line in prose_lines(path.read_text(encoding="utf-8")):
            match = HEADING.match(line)
            if match:
                base = slug(match.group(2))
                count = seen.get(base, 0)
                seen[base] = count + 1
                found.add(base if count == 0 else f"{base}-{count}")
        cache[path] = found
    return cache[path]


def targets(text):
    for number, line in prose_lines(text):
        line = CODE_SPAN.sub("", line)
        for match in INLINE.finditer(line):
            yield number, match.group(1)
        match = REFERENCE.match(line)
        if match:
            yield number, match.group(1)


def problem(source, target):
    """Why the link target of file source is broken, or None."""
    target = target.strip("<>")
    if re.match(r"^[A-Za-z][A-Za-z0-9+.-]*:", target):
        return None
    path_part, _, anchor = target.partition("#")
    path = (source.parent / unquote(path_part)).resolve() if path_part else source
    if not path.exists():
        return "no such file"
    if anchor:
        if path.is_dir() or path.suffix.lower() != ".md":
            return "a #section of a file that is not Markdown"
        if unquote(anchor).lower() not in anchors(path):
            return f"no section '#{anchor}' in {path.name}"
    return None


def main(argv):
    root = Path(argv[1] if len(argv) > 1 else Path(__file__).resolve().parents[1]).resolve()
    files = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    broken = 0
    checked = 0
    for source in files:
        if not source.exists():
            continue
        for number, target in targets(source.read_text(encoding="utf-8")):
            checked += 1
            why = problem(source, target)
            if why:
                broken += 1
                print(f"{source.relative_to(root)}:{number}: {target} ({why})")
    if broken:
        print(f"check_links: {broken} broken of {checked} links in {len(files)} files")
        return 1
    print(f"check_links: {checked} links in {len(files)} files, none broken")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
