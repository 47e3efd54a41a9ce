#!/usr/bin/env python3
"""rompush-cli-bench: four devices programmed at once against one alone.

    bench/cli_parallel_bench.py [BUILD-DIR] [--ports N]

A production line programs several units at once with one rompush-cli command and several
--port options, each port served by a process of its own. This benchmark starts N (default 4)
simulated TWPx Receivers (rompush-devsim on pseudo-terminals, pacing every byte at 115200 baud),
programs and verifies a whole 32 KB image into one of them alone, then into all N at once, and
checks every device's flash against the file. It prints both wall times and their ratio
(N-at-once / one; about 1 means the ports do not slow each other down).
"""
import pathlib
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "cli"))
import cli_test  # noqa: E402  (the test's device and HEX helpers)


def timed_program(folder, hex_path, ports):
    args = ["program", hex_path, "--no-save"]
    for com in ports:
        args += ["--port", f"COM{com}"]
    start = time.monotonic()
    cli_test.cli(folder, *args, timeout=900)
    return time.monotonic() - start


def main():
    args = sys.argv[1:]
    count = 4
    if "--ports" in args:
        at = args.index("--ports")
        count = int(args[at + 1])
        del args[at:at + 2]
    build = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parent.parent /
                         "build").resolve()
    cli_test.BUILD = build
    with tempfile.TemporaryDirectory(prefix="rompush-cli-bench-") as work:
        folder = pathlib.Path(work)
        hex_path = cli_test.write_hex(folder / "image.hex", "D", 0, cli_test.image(256 * 128, 9))
        devices = [cli_test.Device(folder, com, cli_test.QTR) for com in range(1, count + 1)]
        one = timed_program(folder, hex_path, [1])
        many = timed_program(folder, hex_path, range(1, count + 1))
        for dev in devices:
            dev.holds(hex_path)
    print(f"PROGRAM and VERIFY of a whole 32 KB image at 115200 baud, TWPx Receiver")
    print(f"  one device           {one:8.2f} s")
    print(f"  {count} devices at once   {many:8.2f} s")
    print(f"  ratio {count}-at-once/one  {many / one:8.3f}")
    print(f"  all {count} flashes hold the image")


if __name__ == "__main__":
    main()
