#!/usr/bin/env python3
"""Runs a vantor-transcode build over the corpus and prints, per row, what it
gives next to what Debian's ffmpeg decodes: a quick before/after view of a
change. The test suite checks the same rows strictly (tests/corpus).

Usage: scripts/corpus-report.py [TOOL] [TABLE...]
  TOOL defaults to build/bin/vantor-transcode; TABLE names corpus tables
  (tests/data/corpus/NAME.tsv), all of them by default.
"""
import hashlib
import pathlib
import shlex
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "tests" / "data" / "corpus"


def rows(tables):
    for table in sorted(CORPUS.glob("*.tsv")):
        if tables and table.stem not in tables:
            continue
        lines = table.read_text().splitlines()[1:]
        for line in lines:
            if line:
                yield table.stem, line.split("\t")


def run(tool, clip, output, args):
    command = [tool, str(CORPUS / clip)] + output + ([] if args == "-" else shlex.split(args))
    return subprocess.run(command, capture_output=True, text=False)


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "build" / "bin" / "vantor-transcode")
    tables = set(sys.argv[2:])
    print("table\tfile\tffmpeg pictures\texit (want)\tJPEGs\traw planes\tmessage")
    for table, (clip, args, want_exit, _pix_fmt, frames, raw_md5, _notes) in rows(tables):
        with tempfile.TemporaryDirectory() as work:
            raw = run(tool, clip, ["--raw", f"{work}/raw.yuv"], args)
            raw_file = pathlib.Path(f"{work}/raw.yuv")
            # No file is no picture: the digest of nothing.
            digest = hashlib.md5(raw_file.read_bytes() if raw_file.exists() else b"").hexdigest()
            jpegs = run(tool, clip, ["-o", f"{work}/jpegs"], args)
            count = len(list(pathlib.Path(f"{work}/jpegs").glob("*.jpg")))
            verdict = "-" if raw_md5 == "-" else ("exact" if digest == raw_md5 else "differ")
            message = (jpegs.stderr.decode(errors="replace").strip().splitlines() or [""])[-1]
            print(f"{table}\t{clip}\t{frames}\t{jpegs.returncode} ({want_exit})\t{count}\t{verdict}\t"
                  f"{message[:110] if jpegs.returncode else ''}")


if __name__ == "__main__":
    main()
