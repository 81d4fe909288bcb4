#!/usr/bin/python3
"""Rewriting a page never changes its document, only its links.

Each input of the html5lib tokenizer tests (../shared/realdata/html5lib-tests/tokenizer, read
in place) is made into a page between links of every form the rewriting knows, in the
context its test names (a style element for raw text, a textarea for RCDATA, ...). The pages
are rewritten by `lumbra-cli rebuild`, and each page is parsed before and after with an HTML5
parser (html5lib). With every link value the rewriting wrote mapped back to the value it
replaced, the two documents must be the same: no element, attribute, text or comment may
appear, vanish, move or change. The mapping comes from a control page that holds the links
alone, so a link rewritten anywhere into anything other than what that page shows is caught.

usage: rewrite_keeps_documents.py LUMBRA_CLI SOURCE_DIR
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import html5lib

# The stored documents the links lead to, below the tree's root.
STORED = ["host/dir/x.html", "host/dir/f.html", "host/dir/a.gif", "host/dir/b.png",
          "host/dir/s.gif", "host/dir/p.jpg", "host/dir/v.mp4", "host/css/s.css", "other/o.html"]

# Every form, in every quoting, including one whose single-quoted value holds markup.
BEFORE = """<a href="x.html">a</a> <a href='http://other/o.html'>b</a> <a href=f.html#top>c</a>
<img src=a.gif srcset="a.gif 1x, b.png 2x" alt='a "q"'> <img src='gone.gif'>
<link rel=stylesheet href='/css/s.css'> <iframe src="f.html"></iframe>
<video poster="p.jpg"><source src='v.mp4'></video> <div style="background:url(a.gif)">d</div>
<a href='http://o.example/"><script>alert(1)</script>'>e</a> <a href="javascript:go()">j</a>
<style>p { background: url('b.png') } @import "/css/s.css";</style>
<script language=JavaScript>var i = "../dir/s.gif"; </script>
"""
# After the input, so that whatever context the input leaves open takes them in.
AFTER = """
<a href="x.html">z</a> <img src='gone.gif'> <img srcset="a.gif 1x, b.png 2x">
<a href=f.html#top>y</a> <div style="background:url(a.gif)">w</div>
"""

# The element that puts a browser into each test's initial state.
CONTEXTS = {
    "Data state": "",
    "PLAINTEXT state": "<plaintext>",
    "RCDATA state": "<textarea>",
    "RAWTEXT state": "<style>",
    "Script data state": "<script>",
    "CDATA section state": "<svg><![CDATA[",
}


def page(body):
    head = "<!DOCTYPE html><html><head><title>t</title></head><body>\n"
    return head + body + "\n</body></html>\n"


def inputs(tokenizer_dir):
    """(name, context, input) of every tokenizer test."""
    for path in sorted(glob.glob(os.path.join(tokenizer_dir, "*.test"))):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        for number, test in enumerate(data.get("tests", []) + data.get("xmlViolationTests", [])):
            text = test["input"]
            if test.get("doubleEscaped"):
                text = re.sub(r"\\u([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)
            for state in test.get("initialStates", ["Data state"]):
                yield f"{os.path.basename(path)}#{number} ({state})", CONTEXTS[state], text


def tokens(text):
    """The document as a list of tokens, adjacent text joined."""
    tree = html5lib.parse(text, treebuilder="etree", namespaceHTMLElements=False)
    out = []
    for token in html5lib.getTreeWalker("etree")(tree):
        kind = token["type"]
        if kind in ("Characters", "SpaceCharacters"):
            if out and out[-1][0] == "Text":
                out[-1] = ("Text", out[-1][1] + token["data"])
            else:
                out.append(("Text", token["data"]))
        elif kind in ("StartTag", "EmptyTag"):
            attrs = tuple((name[1], value) for name, value in token["data"].items())
            out.append((kind, token["name"], attrs))
        elif kind == "EndTag":
            out.append((kind, token["name"]))
        elif kind == "Comment":
            out.append((kind, token["data"]))
        elif kind == "Doctype":
            out.append((kind, token["name"], token.get("publicId"), token.get("systemId")))
    return out


def shape(token_list):
    """The tokens without their texts and values."""
    return [(t[0], t[1] if t[0] in ("StartTag", "EmptyTag", "EndTag") else None,
             tuple(n for n, _ in t[2]) if t[0] in ("StartTag", "EmptyTag") else None)
            for t in token_list]


def raw_rewrites(before, after):
    """What the rewriting wrote in the control page's bytes, word by word: {new: old}. These
    are the words a link's markup shows where a browser reads it as text (a comment, say)."""
    old_words, new_words = re.split(r"[\s<>=]+", before), re.split(r"[\s<>=]+", after)
    if len(old_words) != len(new_words):
        sys.exit("the control page was changed beyond its links")
    return {n: o for o, n in zip(old_words, new_words) if o != n}


def value_rewrites(before, after):
    """What the rewriting wrote for each link value of the control page: {new: old}."""
    mapping = {}
    for old_token, new_token in zip(before, after):
        if old_token == new_token:
            continue
        pairs = []
        if old_token[0] in ("StartTag", "EmptyTag"):
            pairs = [(o[1], n[1]) for o, n in zip(old_token[2], new_token[2]) if o != n]
        elif old_token[0] == "Text":
            pairs = [(old_token[1], new_token[1])]
        for old, new in pairs:
            old_words, new_words = re.split(r"[\s,()'\"]+", old), re.split(r"[\s,()'\"]+", new)
            if len(old_words) != len(new_words):  # quotes taken into the value: all of it
                old_words, new_words = [old], [new]
            for o, n in zip(old_words, new_words):
                if o != n:
                    mapping[n] = o
    return mapping


def replacer(mapping):
    """A function that replaces every key of `mapping` in a text by its value."""
    pattern = re.compile("|".join(re.escape(k) for k in sorted(mapping, key=len, reverse=True)))
    return lambda text: pattern.sub(lambda m: mapping[m.group(0)], text) if text else text


def mapped_back(token_list, values, raw):
    """The tokens with every link the rewriting wrote replaced by the one it replaced: in
    attribute values as values, in text, comments and doctypes as markup."""
    value_back, raw_back = replacer(values), replacer(raw)
    out = []
    for token in token_list:
        if token[0] in ("StartTag", "EmptyTag"):
            out.append((token[0], token[1], tuple((n, value_back(v)) for n, v in token[2])))
        else:
            out.append((token[0], *(raw_back(part) for part in token[1:])))
    return out


def rebuild(cli, source, work, tree):
    start = os.path.join(work, "start")
    os.makedirs(start)
    for args in (["settings", "CACHE_DIR=" + os.path.join(source, "examples", "sample-cache"),
                  "LOG_DIR_A=" + tree, "INDEX_DIR=" + os.path.join(work, "index")],
                 ["--yes", "rebuild"]):
        done = subprocess.run([cli, "-C", start, *args], capture_output=True, text=True,
                              errors="replace", check=False)
        if done.returncode != 0:
            sys.exit(f"lumbra-cli {' '.join(args)} exited {done.returncode}:\n{done.stderr}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    cli, source = (os.path.abspath(arg) for arg in sys.argv[1:])
    tokenizer_dir = os.path.join(source, "..", "shared", "realdata", "html5lib-tests",
                                 "tokenizer")
    work = tempfile.mkdtemp(prefix="lumbra-documents-")
    try:
        tree = os.path.join(work, "save", "log")
        pages_dir = os.path.join(tree, "host", "dir")
        for stored in STORED:
            os.makedirs(os.path.dirname(os.path.join(tree, stored)), exist_ok=True)
            with open(os.path.join(tree, stored), "w", encoding="ascii") as f:
                f.write("x")
        cases = [("control", page(BEFORE + AFTER))]
        cases += [(name, page(BEFORE + context + text + AFTER))
                  for name, context, text in inputs(tokenizer_dir)]
        for number, (_, text) in enumerate(cases):
            with open(os.path.join(pages_dir, f"t{number}.html"), "w", encoding="utf-8",
                      errors="surrogatepass", newline="") as f:
                f.write(text)
        rebuild(cli, source, work, tree)

        def rewritten(number):
            with open(os.path.join(pages_dir, f"t{number}.html"), encoding="utf-8",
                      errors="surrogatepass", newline="") as f:
                return f.read()

        control_before, control_after = tokens(cases[0][1]), tokens(rewritten(0))
        if shape(control_before) != shape(control_after):
            sys.exit("the control page was changed beyond its links:\n" + rewritten(0))
        values = value_rewrites(control_before, control_after)
        raw = raw_rewrites(cases[0][1], rewritten(0))
        if len(values) < 10 or len(raw) < 10:
            sys.exit(f"the control page's links were not rewritten: {raw}")
        failures = []
        for number, (name, text) in enumerate(cases):
            before = tokens(text)
            after = mapped_back(tokens(rewritten(number)), values, raw)
            if before != after:
                failures.append((name, text, before, after))
        for name, text, before, after in failures[:5]:
            print(f"FAIL {name}: {text!r}")
            for b, a in zip(before, after):
                if b != a:
                    print(f"  before {b!r}\n  after  {a!r}")
                    break
            else:
                print(f"  {len(before)} tokens before, {len(after)} after")
        print(f"{len(cases)} pages, {len(failures)} changed beyond their links")
        sys.exit(1 if failures else 0)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
