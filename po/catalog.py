#!/usr/bin/python3
"""The English catalog po/en.po and the sources' marked texts.

  catalog.py update SRC   en.po merged with the texts marked in the sources now (new ones
                          untranslated, dropped ones removed); then translate the new ones
  catalog.py table SRC    docs/manual-en.html's table of messages made anew from en.po
  catalog.py check SRC    exit 1 unless every marked text has its English text in en.po,
                          en.po holds no text the sources dropped, and the manual's table is
                          en.po's
"""
import html
import os
import re
import subprocess
import sys
import tempfile

KEYWORDS = ["Tr", "TrLater", "Shown", "Say"]
# The programs' own sources: the tests, fuzz targets, benchmarks and examples show nothing.
SKIP_DIRS = {"build", "fuzz", "bench", "testing", "examples", "po", "docs", "scripts"}
TABLE_START = "<!-- messages: made by po/catalog.py table from po/en.po -->"
TABLE_END = "<!-- /messages -->"


def sources(src):
    found = []
    for top in sorted(os.listdir(src)):
        if top in SKIP_DIRS or top.startswith(".") or not os.path.isdir(os.path.join(src, top)):
            continue
        for root, dirs, files in os.walk(os.path.join(src, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".cpp", ".h")) and not name.endswith("_test.cpp"):
                    found.append(os.path.relpath(os.path.join(root, name), src))
    return found


def extract(src, pot):
    args = ["xgettext", "--from-code=UTF-8", "--language=C++", "--sort-by-file",
            "--package-name=lumbra", "--add-location=file", "--output=" + pot]
    args += ["--keyword=" + k for k in KEYWORDS]
    # The system's messages break their lines with "\r"; xgettext warns about each.
    subprocess.run(args + sources(src), cwd=src, check=True, stderr=subprocess.DEVNULL)


def run(args):
    """Runs a gettext tool; its warnings on the "\\r" of the system's messages are left out."""
    done = subprocess.run(args, stderr=subprocess.PIPE, text=True)
    for line in done.stderr.splitlines():
        if "should not contain the '\\r' escape sequence" not in line:
            print(line, file=sys.stderr)
    return done.returncode


def unquote(text):
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)),
                  text)


def read_po(path):
    """The (msgid, msgstr) pairs of a .po file, its header left out."""
    pairs, key, parts = [], None, {}
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        match = re.match(r'^(msgid|msgstr) "(.*)"$', line)
        if match:
            key = match.group(1)
            if key == "msgid" and "msgid" in parts:
                pairs.append((parts["msgid"], parts.get("msgstr", "")))
                parts = {}
            parts[key] = unquote(match.group(2))
        elif line.startswith('"') and key:
            parts[key] += unquote(line[1:-1])
        elif not line or line.startswith("#"):
            key = None if not line else key
    if "msgid" in parts:
        pairs.append((parts["msgid"], parts.get("msgstr", "")))
    return [(i, s) for i, s in pairs if i]


def shown(text):
    return "<br>".join(html.escape(line) for line in text.replace("\r\n", "\r").split("\r"))


def table(po):
    rows = ["<table>", "<tr><th>Japanese (the system's own text)</th><th>English</th></tr>"]
    for msgid, msgstr in read_po(po):
        rows.append("<tr><td>%s</td><td>%s</td></tr>" % (shown(msgid), shown(msgstr)))
    rows.append("</table>")
    return "\n".join(rows)


def manual_with_table(manual_text, po):
    start = manual_text.index(TABLE_START) + len(TABLE_START)
    end = manual_text.index(TABLE_END)
    return manual_text[:start] + "\n" + table(po) + "\n" + manual_text[end:]


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("update", "table", "check"):
        sys.exit(__doc__)
    command, src = sys.argv[1], os.path.abspath(sys.argv[2])
    po = os.path.join(src, "po", "en.po")
    manual = os.path.join(src, "docs", "manual-en.html")
    if command == "table":
        text = open(manual, encoding="utf-8").read()
        open(manual, "w", encoding="utf-8").write(manual_with_table(text, po))
        return
    with tempfile.TemporaryDirectory() as tmp:
        pot = os.path.join(tmp, "lumbra.pot")
        extract(src, pot)
        if command == "update":
            if run(["msgmerge", "--quiet", "--update", "--backup=none", "--no-fuzzy-matching",
                    "--sort-by-file", "--add-location=file", po, pot]) != 0 or run(
                        ["msgattrib", "--no-obsolete", "--output-file=" + po, po]) != 0:
                sys.exit(1)
            return
        failed = False
        # Every marked text has an English text (an untranslated one counts as missing) ...
        if run(["msgcmp", po, pot]) != 0:
            print("catalog: texts above have no English text in po/en.po "
                  "(po/catalog.py update, then translate them)", file=sys.stderr)
            failed = True
        # ... and en.po keeps none the sources dropped.
        if run(["msgcmp", "--use-untranslated", pot, po]) != 0:
            print("catalog: po/en.po holds texts no source marks (po/catalog.py update)",
                  file=sys.stderr)
            failed = True
        if manual_with_table(open(manual, encoding="utf-8").read(), po) != open(
                manual, encoding="utf-8").read():
            print("catalog: the table of messages in docs/manual-en.html is not po/en.po's "
                  "(po/catalog.py table)", file=sys.stderr)
            failed = True
        sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
