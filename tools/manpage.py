#!/usr/bin/python3
"""Writes a tool's manual page from its --help text, so the two say the same.

  quillo-shot --help | tools/manpage.py quillo-shot > docs/man/quillo-shot.1

The help text's layout is read as it is printed: "Usage: ..." becomes the synopsis; the
paragraphs up to "Options:" the description; every later "Heading: ..." line starts a section
(OPTIONS, INPUT, OUTPUT, EXIT STATUS...). Inside a section a line indented by two spaces starts
a tagged item (the term, then its text after two or more spaces or on deeper-indented lines),
and an unindented line is running text. The test man.<tool> compares the committed page with
this script's output for the built tool, and ./run man writes the pages again.
"""

import re
import sys

# The one-line summary of each tool for the NAME section, and the pages each refers to.
TOOLS = {
    "quillo-shot": ("write a web page's picture to a PNG file", ["quillo-view"]),
    "quillo-view": ("show a live web page in a window", ["quillo-shot"]),
}


def escape(text):
    """Text as roff shows it literally: backslashes, option dashes and leading dots."""
    text = text.replace("\\", "\\e")
    text = re.sub(r"(?<![\w-])-(?=[-\w])", r"\\-", text)  # -h, --width: minus signs
    text = re.sub(r"(?<=\\-)-", r"\\-", text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def term_markup(term):
    """An item's term: options and literal words in bold, placeholders (FILE, N) in italics."""
    words = []
    for word in term.split(" "):
        core = word.strip("[],")
        font = "I" if core.isupper() and core.isalpha() else "B"
        start = word.index(core) if core else 0
        words.append(escape(word[:start]) + f"\\f{font}{escape(core)}\\fR"
                     + escape(word[start + len(core):]))
    return " ".join(words)


def parse(help_text):
    """(usage, sections): sections is a list of (heading, blocks); a block is ("text", lines)
    or ("item", term, lines)."""
    lines = help_text.rstrip("\n").split("\n")
    if not lines or not lines[0].startswith("Usage: "):
        raise ValueError("the help text does not start with 'Usage: '")
    usage = lines[0][len("Usage: "):]
    sections = [("DESCRIPTION", [])]
    for line in lines[1:]:
        blocks = sections[-1][1]
        heading = re.match(r"^([A-Z][a-z]+(?: [a-z]+)?):(?: (.*))?$", line)
        if heading and not line.startswith(" "):
            sections.append((heading.group(1).upper(), []))
            if heading.group(2):
                first = heading.group(2)
                sections[-1][1].append(("text", [first[:1].upper() + first[1:]]))
            continue
        if not line.strip():
            blocks.append(("break",))
            continue
        item = re.match(r"^  (\S.*?)(?: {2,}(\S.*))?$", line)
        if item and not line.startswith("   "):
            blocks.append(("item", item.group(1), [item.group(2)] if item.group(2) else []))
        elif line.startswith("   ") and blocks and blocks[-1][0] == "item":
            blocks[-1][2].append(line.strip())
        elif blocks and blocks[-1][0] == "text":
            blocks[-1][1].append(line)
        else:
            blocks.append(("text", [line]))
    return usage, sections


def render(name, help_text):
    summary, see_also = TOOLS[name]
    usage, sections = parse(help_text)
    program, _, arguments = usage.partition(" ")
    if program != name:
        raise ValueError(f"the help text is for {program!r}, not {name!r}")
    out = [f'.TH {name.upper()} 1 "" "quillo" "User Commands"',
           ".SH NAME", f"{escape(name)} \\- {escape(summary)}",
           ".SH SYNOPSIS", f".B {escape(name)}"]
    for word in arguments.split():
        inner = word.strip("[]")
        out.append(f"[\\fI{escape(inner)}\\fR]" if word.startswith("[") else escape(word))
    for heading, blocks in sections:
        out.append(f".SH {heading}")
        paragraph_due = False  # a blank line or an item came before: the text starts anew
        for block in blocks:
            if block[0] == "break":
                paragraph_due = True
            elif block[0] == "text":
                if paragraph_due and not out[-1].startswith(".SH"):
                    out.append(".PP")
                out.extend(escape(line) for line in block[1])
                paragraph_due = False
            else:
                _, term, text = block
                out.append(".TP")
                out.append(term_markup(term))
                out.extend(escape(line) for line in text)
                paragraph_due = True
    out.append(".SH SEE ALSO")
    out.append(", ".join(f"\\fB{escape(other)}\\fR(1)" for other in see_also))
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in TOOLS:
        sys.exit(f"usage: TOOL --help | {sys.argv[0]} TOOL  (TOOL: {', '.join(TOOLS)})")
    sys.stdout.write(render(sys.argv[1], sys.stdin.read()))


if __name__ == "__main__":
    main()
