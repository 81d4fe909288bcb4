#!/usr/bin/env python3
"""Writes starting inputs for every fuzz target from the real files of ../shared/realdata.

    fuzz/seed_inputs.py REALDATA OUT

OUT/fuzz_NAME/ receives the inputs of each target, each in the form that target reads (see
the comment at the top of fuzz/fuzz_NAME.cpp). `scripts/fuzz --reseed` runs the targets on
them and `--merge` keeps, minimised, what adds coverage to fuzz/corpus/.
"""
import hashlib
import json
import os
import re
import struct
import sys
from pathlib import Path

MAX_LEN = 65536  # scripts/fuzz runs every target with -max_len=65536


def write(out, target, data):
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    data = data[:MAX_LEN]
    (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def files(root, pattern="*"):
    return sorted(p for p in root.rglob(pattern) if p.is_file())


# --- what the real files hold -------------------------------------------------------------

def site_pages(real):
    return [p for p in files(real / "browser-caches/site") if p.suffix == ".html"]


def urls_in(data):
    return sorted(set(re.findall(rb"https?://[\x21-\x7e]+", data)))


def links_in(page):
    return re.findall(rb"""(?:href|src|action|background)\s*=\s*["']?([^"' >]+)""", page, re.I)


def served(real):
    """(host, path, status, size) of every request the test site answered."""
    rows = []
    for line in (real / "browser-caches/server.log").read_bytes().splitlines():
        fields = line.split(b"\t")
        if len(fields) >= 5:
            rows.append((fields[1], fields[2], fields[3], fields[4]))
    return rows


def html5lib_inputs(real):
    """Every input of the HTML test suite's tokenizer and encoding tests."""
    inputs = []
    for test in files(real / "html5lib-tests/tokenizer", "*.test"):
        doc = json.loads(test.read_text(encoding="utf-8"))
        for case in doc.get("tests", []) + doc.get("xmlViolationTests", []):
            text = case.get("input", "")
            if case.get("doubleEscaped"):
                text = text.encode("utf-8", "surrogatepass").decode("unicode-escape")
            inputs.append(text.encode("utf-8", "surrogatepass"))
    for dat in files(real / "html5lib-tests/encoding", "*.dat"):
        for block in dat.read_bytes().split(b"#data\n")[1:]:
            inputs.append(block.split(b"\n#encoding\n")[0])
    return inputs


def firefox_entries(real):
    return [p for p in files(real / "browser-caches") if p.parent.name == "entries"]


# --- the packing of fuzz_chromium_blockfile ---------------------------------------------------

def pack_file(name, size, data, gap=16):
    """One file of the container: its size and its runs of non-zero bytes."""
    runs = []
    at = 0
    data = data[:size]
    while at < len(data):
        while at < len(data) and data[at] == 0:
            at += 1
        if at >= len(data):
            break
        end = at
        zeros = 0
        while end < len(data) and end - at < 65535 and zeros < gap:
            zeros = zeros + 1 if data[end] == 0 else 0
            end += 1
        end -= zeros
        runs.append((at, data[at:end]))
        at = end
    out = bytes([len(name)]) + name.encode() + struct.pack("<IH", size, len(runs))
    for offset, run in runs:
        out += struct.pack("<IH", offset, len(run)) + run
    return out


def small_index(index):
    """The index with a table just long enough to keep its used buckets apart (the real one
    has 0x80000 buckets, 2 MiB that every input would have to fill): the same entries, each in
    the bucket its hash picks."""
    length = struct.unpack_from("<I", index, 28)[0] or 0x10000
    table = struct.unpack_from("<%dI" % length, index, 368)
    used = [(slot, address) for slot, address in enumerate(table) if address]
    small = 16
    while len({slot & (small - 1) for slot, _ in used}) != len(used):
        small *= 2
    new = bytearray(368 + 4 * small)
    new[:368] = index[:368]
    struct.pack_into("<I", new, 28, small)
    for slot, address in used:
        struct.pack_into("<I", new, 368 + 4 * (slot & (small - 1)), address)
    return bytes(new)


def trimmed_block_file(data):
    """A block file cut after its last block holding a byte (a reader checks blocks against
    the file's size, not the count its header allows)."""
    block = max(struct.unpack_from("<i", data, 12)[0], 1)
    used = max(len(data.rstrip(b"\0")) - 8192, 0)
    return data[: 8192 + -(-used // block) * block]


BLOCK_SIZES = {1: 36, 2: 256, 3: 1024, 4: 4096}


def mark_blocks(blocks, address, keep):
    """Adds the blocks of `address` to `keep` (file name -> set of byte ranges; an external
    file whole)."""
    if not address & 0x80000000:
        return
    kind = address >> 28 & 7
    if kind == 0:
        keep.setdefault("f_%06x" % (address & 0x0FFFFFFF), set())
        return
    size = BLOCK_SIZES.get(kind)
    name = "data_%d" % (address >> 16 & 0xFF)
    if size is None or name not in blocks:
        return
    first, count = address & 0xFFFF, (address >> 24 & 3) + 1
    keep.setdefault(name, set()).add((8192 + first * size, 8192 + (first + count) * size))


def entry_blocks(blocks, address, keep):
    """Adds to `keep` the blocks of the entry at `address`, of its rankings node, long key and
    streams, and those of the entries chained after it."""
    seen = set()
    while address & 0x80000000 and address not in seen:
        seen.add(address)
        mark_blocks(blocks, address, keep)
        start = 8192 + (address & 0xFFFF) * 256
        store = blocks.get("data_%d" % (address >> 16 & 0xFF), b"")[start : start + 96]
        if len(store) < 96:
            return
        following, rankings = struct.unpack_from("<II", store, 4)
        long_key = struct.unpack_from("<I", store, 36)[0]
        for other in (rankings, long_key) + struct.unpack_from("<4I", store, 56):
            mark_blocks(blocks, other, keep)
        address = following


def blockfile_inputs(real):
    cache = real / "browser-caches/chromium-blockfile"
    index = (cache / "index").read_bytes()
    blocks = {p.name: trimmed_block_file(p.read_bytes()) for p in files(cache, "data_*")}
    external = (cache / "f_000001").read_bytes()

    def packed(index_bytes, keep=None, external_size=len(external)):
        """The cache with the index given; with `keep`, the block files hold only the blocks
        it names (and their headers)."""
        out = pack_file("index", len(index_bytes), index_bytes)
        for name, data in sorted(blocks.items()):
            if keep is not None:
                if name not in keep:
                    continue
                only = bytearray(len(data))
                only[:8192] = data[:8192]
                for begin, end in keep[name]:
                    only[begin:end] = data[begin:end]
                data = bytes(only)
            out += pack_file(name, len(data), data)
        # The body of the long page: its first 4 KiB in a file of its whole size (or cut).
        if keep is None or "f_000001" in keep:
            out += pack_file("f_000001", external_size, external[:4096])
        return out

    # The whole cache, then each bucket alone with its entries' blocks (small inputs, whose
    # mutations stay small), the one with the external file once more with that file cut.
    small = small_index(index)
    yield packed(small)
    length = struct.unpack_from("<I", small, 28)[0]
    for slot, address in enumerate(struct.unpack_from("<%dI" % length, small, 368)):
        if not address:
            continue
        one = bytearray(368 + 4 * length)
        one[:368] = small[:368]
        struct.pack_into("<I", one, 368 + 4 * slot, address)
        keep = {}
        entry_blocks(blocks, address, keep)
        yield packed(bytes(one), keep)
        if "f_000001" in keep:
            yield packed(bytes(one), keep, external_size=4096)


# --- the inputs of each target ----------------------------------------------------------------

def main(real, out):
    pages = [p.read_bytes() for p in site_pages(real)]
    sheets = [p.read_bytes() for p in files(real / "browser-caches/site", "*.css")]
    style = re.compile(rb"<style[^>]*>(.*?)</style>", re.S | re.I)
    sheets += [m for page in pages for m in style.findall(page)]
    rows = served(real)
    site_urls = [b"http://" + host + path for host, path, _, _ in rows]
    index_dats = [p.read_bytes() for p in files(real / "msiecf-index.dat")]
    links = sorted({link for page in pages for link in links_in(page)})
    urls = sorted(set(site_urls) | {u for d in index_dats for u in urls_in(d)})
    tests = html5lib_inputs(real)

    for page in pages:
        for switches in (0x00, 0x0F):
            write(out, "fuzz_reconstruct_page", bytes([switches]) + page)
    for text in tests:
        write(out, "fuzz_reconstruct_page", b"\x0f" + text)

    for sheet in sheets:
        write(out, "fuzz_css_rewriter", b"\x00" + sheet)
        write(out, "fuzz_css_rewriter", b"\x2a" + sheet)

    encodings = {b"shift_jis": 3, b"euc-jp": 4, b"utf-8": 1}
    for page in pages:
        charset = re.search(rb"charset=[\"']?([\w-]+)", page, re.I)
        code = encodings.get(charset.group(1).lower(), 0) if charset else 0
        for title in re.findall(rb"<title>(.*?)</title>", page, re.S | re.I):
            write(out, "fuzz_title_code", bytes([code << 2]) + title)
            write(out, "fuzz_title_code", bytes([code << 2 | 3]) + title)

    for url in urls + links:
        write(out, "fuzz_link_resolver", url)
    for (host, path, _, _), url in zip(rows, site_urls):
        write(out, "fuzz_cache_entry_path", path.lstrip(b"/") + b"\n" + url)
    for entry in files(real / "browser-caches/chromium-simple", "*_0"):
        key = entry.read_bytes()[24:]
        url = key.split(b" ")[-1].split(b"\0")[0] if key else b""
        write(out, "fuzz_cache_entry_path", entry.name.encode() + b"\n" + url[:2048])

    write(out, "fuzz_link_list", b"".join(u + b" 0\n" for u in urls))
    write(out, "fuzz_link_list", b"".join(l + b" 1\n" for l in links))
    write(out, "fuzz_surf_list", b"".join(
        b"20260101 120000 %s %s /home/user/crawl/log/%s%s\n"
        % (status, size, host.replace(b":", b"-"), path)
        for host, path, status, size in rows))

    for ini in files(Path(__file__).resolve().parent.parent / "examples", "*.ini"):
        write(out, "fuzz_settings", ini.read_bytes())

    for data in index_dats:
        write(out, "fuzz_ie4_reader", data)
    for entry in files(real / "browser-caches/chromium-simple", "*_0"):
        write(out, "fuzz_chromium_simple", entry.read_bytes())
    for entry in firefox_entries(real):
        data = entry.read_bytes()
        write(out, "fuzz_firefox_cache2", data)
        # The stored body ends where the metadata begins (the file's last four bytes).
        body = data[: struct.unpack(">I", data[-4:])[0]] if len(data) >= 4 else b""
        if body.startswith(b"\x1f\x8b") and "encrypted" not in str(entry):
            write(out, "fuzz_content_decoding", b"\x00" + body)
            write(out, "fuzz_content_decoding", b"\x05" + body)
    for page in pages[:3]:
        write(out, "fuzz_content_decoding", b"\x06" + page)

    for data in blockfile_inputs(real):
        write(out, "fuzz_chromium_blockfile", data)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(Path(sys.argv[1]), Path(sys.argv[2]))
