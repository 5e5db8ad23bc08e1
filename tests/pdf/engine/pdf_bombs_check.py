#!/usr/bin/env python3
"""The PDF bombs of tools/make_pdf_bombs.py through `ferretta-cli --pdf-text`, each under a
memory limit: the engine must end every one within the time limit, with exit status 0 or 1
(never killed, never crashed), and below 256 MB of peak memory; then the same as a search with
the document cache on. A sanitized build (--sanitized)
is skipped: its memory is not the program's and it runs too slowly for the limits; the fuzz
targets go through the same code under the sanitizers.

Usage: pdf_bombs_check.py FERRETTA_CLI [--sanitized]   (exit 77 without python's zlib)
"""
import os
import resource
import subprocess
import sys
import tempfile
import time

PEAK_LIMIT_MB = 256
TIME_LIMIT_S = 60  # generous: CI machines are shared; a bomb that gets through takes minutes
ADDRESS_LIMIT = 4 << 30  # a runaway is stopped by the kernel rather than the machine's swap


def run(command, home) -> str:
    """Runs one bomb; what it cost, or FAILED and why."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_LIMIT, ADDRESS_LIMIT))

    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             preexec_fn=limit,
                             env=dict(os.environ, FERRETTA_HOME=home,
                                      XDG_CACHE_HOME=os.path.join(home, "cache")))
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    peak_mb = usage.ru_maxrss / 1024
    code = os.waitstatus_to_exitcode(status)
    err = child.stderr.read()[:300]
    child.stderr.close()
    cost = f"exit {code}, {seconds:.1f} s, peak {peak_mb:.0f} MB"
    if code not in (0, 1):
        return f"FAILED {cost} {err!r}"
    if seconds > TIME_LIMIT_S or peak_mb > PEAK_LIMIT_MB:
        return f"FAILED {cost}"
    return cost


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    cli = sys.argv[1]
    if "--sanitized" in sys.argv[2:]:
        print("skipped: a sanitized build")
        return 77
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools"))
    try:
        import make_pdf_bombs
    except ImportError as missing:
        print(f"skipped: {missing}")
        return 77
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        # A search reads with the engine and keeps what it read in the document cache.
        with open(os.path.join(folder, "frtta.ini"), "w", newline="") as settings:
            settings.write("[Search]\r\ntargetFileType13=True\r\npdfOwnEngine=1\r\n")
        for name, make in make_pdf_bombs.BOMBS.items():
            bomb_folder = os.path.join(folder, name)
            os.mkdir(bomb_folder)
            path = os.path.join(bomb_folder, name + ".pdf")
            with open(path, "wb") as out:
                out.write(make())
            runs = {"text": [cli, "--pdf-text", path],
                    "search": [cli, "--types=pdf", bomb_folder, "ferretta"]}
            for how, command in runs.items():
                failure = run(command, folder)
                print(f"{name} ({how}): {os.path.getsize(path)} bytes, {failure or 'ok'}")
                if failure.startswith("FAILED"):
                    failures.append(f"{name} ({how}): {failure}")
            os.remove(path)
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
