#!/usr/bin/env python3
"""rompush-cli end to end, through the real executable against rompush-devsim devices on
pseudo-terminals, each test in a program folder of its own.

    cli_test.py BUILD-DIR CASE

CASE ports: the port list with --json, each port's fields and the reasons of those that do not
open; qtr: PROGRAM (with --json), VERIFY and ERASE of a TWPx Receiver; vln: PROGRAM with
--no-save and VERIFY of a TWPx Transmitter; failures: the exit status of each kind of failure
(and ERASE refused on a simulated Orbit Mini on PS/2, whose button is CONFIGURE DEVICE; one
port under two spellings refused);
parallel: three ports at once, one of them silent. Flash contents are checked with
tests/gui/flash_matches_hex.py.
"""
import concurrent.futures
import json
import pathlib
import subprocess
import sys
import tempfile

FLASH_CHECK = pathlib.Path(__file__).resolve().parent.parent / "gui" / "flash_matches_hex.py"
BUILD = None  # the build folder with rompush-cli and rompush-devsim
RUNNING = []  # devices to stop however the test ends
QTR, VLN = ("3", "D", 0x0000), ("1", "H", 0x0800)  # devsim type, device letter, first address


def fail(message):
    sys.exit("FAILED: " + message)


def write_hex(path, letter, base, image):
    def record(address, kind, data):
        body = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
        return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\r\n"
    text = record(0, 0, [1, 0, 0, ord(letter) ^ 0x96, 0, 0])
    text += "".join(record(base + at, 0, image[at:at + 32]) for at in range(0, len(image), 32))
    path.write_text(text + ":00000001FF\r\n", newline="")
    return path


def image(size, seed):
    return bytes((k * 31 + seed + (k >> 8)) & 0xFF for k in range(size))


class Device:
    """A packet-bootloader device on COM<com> of the folder's port map."""

    def __init__(self, folder, com, kind, *extra):
        self.com, self.kind = com, kind
        self.flash, self.wire = folder / f"flash{com}.bin", folder / f"wire{com}.bin"
        self.proc = subprocess.Popen(
            [BUILD / "rompush-devsim", "--folder", folder, "--com", str(com), "--type", kind[0],
             "--quiet", "--flash-out", self.flash, "--wire", self.wire, *extra],
            stdout=subprocess.PIPE, text=True)
        RUNNING.append(self.proc)
        ready = self.proc.stdout.readline()
        if not ready.startswith(f"rompush-devsim: COM{com} -> "):
            fail("rompush-devsim did not start")
        self.device = ready.split(" -> ")[1].split(" ")[0]

    def stop(self):
        self.proc.terminate()
        self.proc.wait()

    def holds(self, hex_path):
        self.stop()  # it saves its flash as it ends
        check = subprocess.run([sys.executable, FLASH_CHECK, hex_path, self.flash,
                                str(self.kind[2])], capture_output=True, text=True)
        if check.returncode != 0:
            fail(f"COM{self.com}: {check.stdout}{check.stderr}")


def cli(folder, *args, status=0, timeout=300):
    baud = [] if args[0] == "ports" else ["--baud", "115200"]
    run = subprocess.run([BUILD / "rompush-cli", *map(str, args), "--folder", folder, *baud],
                         capture_output=True, text=True, timeout=timeout)
    if run.returncode != status:
        fail(f"rompush-cli {' '.join(map(str, args))}: exit {run.returncode}, expected {status}\n"
             f"{run.stdout}{run.stderr}")
    return run


def results(run):
    return [json.loads(line) for line in run.stdout.splitlines()]


def case_ports(folder):
    dev = Device(folder, 3, QTR)
    (folder / "plain.txt").write_text("not a terminal")
    for com, target in ((5, folder / "plain.txt"), (30, dev.device)):
        (folder / "ports" / f"COM{com}").symlink_to(target)
    ports = {p["port"]: p for p in results(cli(folder, "ports", "--json"))}
    fields = {"port", "number", "device", "by_id", "vendor_id", "product_id", "manufacturer",
              "product", "serial", "group", "available", "reason"}
    if any(set(p) != fields for p in ports.values()):
        fail(f"fields of the ports: {ports}")
    expected = {"COM3": (dev.device, True, ""),
                "COM5": (str(folder / "plain.txt"), False, "not a serial device"),
                "COM30": (dev.device, False, "beyond the search limit")}
    got = {k: (ports[k]["device"], ports[k]["available"], ports[k]["reason"]) for k in expected
           if k in ports}
    if got != expected or ports["COM3"]["number"] != 3 or "PS/2" not in ports:
        fail(f"ports: {got}")
    text = cli(folder, "ports").stdout
    if f"COM5    {folder / 'plain.txt'}  (not available: not a serial device)" not in text:
        fail(f"rompush-cli ports:\n{text}")
    dev.stop()


def case_qtr(folder):
    dev = Device(folder, 3, QTR)
    hex_path = write_hex(folder / "receiver.hex", "D", 0, image(640, 7))
    (good,) = results(cli(folder, "program", hex_path, "--port", "COM3", "--json"))
    expected = {"port": "COM3", "outcome": "ok", "exit_status": 0, "error_code": 0,
                "status": "Program and Verify OK", "file": str(hex_path)}
    if {k: good[k] for k in expected} != expected or good["device"]["name"] != "TWPx  Receiver":
        fail(f"JSON result: {good}")
    if f"D {hex_path}" not in (folder / "RomPush.INI").read_text().splitlines():
        fail("the settings file does not record the file as last used")
    if "Verify OK" not in cli(folder, "verify", hex_path, "--port", "COM3").stdout:
        fail("VERIFY did not report Verify OK")
    dev.holds(hex_path)
    dev = Device(folder, 3, QTR)
    cli(folder, "erase", "--port", "COM3")
    dev.stop()
    if set(dev.flash.read_bytes()) != {0xFF}:
        fail("ERASE left data in the flash")


def case_vln(folder):
    dev = Device(folder, 4, VLN)
    hex_path = write_hex(folder / "transmitter.hex", "H", VLN[2], image(1024, 3))
    cli(folder, "program", hex_path, "--port", "COM4", "--no-save")
    cli(folder, "verify", hex_path, "--port", "COM4")
    if (folder / "RomPush.INI").exists():
        fail("--no-save wrote the settings file")
    dev.holds(hex_path)


def case_failures(folder):
    qtr_file = write_hex(folder / "receiver.hex", "D", 0, image(256, 1))
    vln_file = write_hex(folder / "transmitter.hex", "H", VLN[2], image(512, 2))
    devices = [Device(folder, 1, QTR), Device(folder, 2, QTR, "--fault", "silence"),
               Device(folder, 3, QTR, "--fault", "wrong,cmd=ERASE_PAGE"), Device(folder, 4, QTR),
               Device(folder, 5, QTR, "--fault", "wrong,cmd=ERASE_PAGE")]
    runs = [  # arguments, exit status, error code (None: not looked at)
        (["program", "--port", "COM1"], 2, None),
        (["scan", "--port", "COM1", "--parity", "mark"], 2, None),
        (["scan", "--port", "COM200"], 4, None),
        (["program", folder / "missing.hex", "--port", "COM1"], 3, None),
        (["program", vln_file, "--port", "COM1"], 3, 1002),
        (["scan", "--port", "COM2"], 5, None),
        (["program", qtr_file, "--port", "COM3"], 6, None),
        (["verify", qtr_file, "--port", "COM4"], 7, None),
        (["erase", "--port", "PS/2", "--sim-ps2", "orbit-mini"], 6, None),  # CONFIGURE DEVICE
        (["erase", "--port", "COM5"], 6, None),  # a page's erase answered wrongly
        # One port under two spellings is one port: refused before any process starts.
        (["scan", "--port", "PS/2", "--port", "ps2", "--sim-ps2", "monolink"], 2, None),
        (["scan", "--port", "COM1", "--port", "com01"], 2, None),
        (["scan", "--port", "COM1", "--port", (folder / "ports" / "COM1").resolve()], 2, None),
    ]
    with concurrent.futures.ThreadPoolExecutor(len(runs)) as pool:
        done = list(pool.map(lambda r: cli(folder, *r[0], "--json", status=r[1]), runs))
    for (args, status, code), run in zip(runs, done):
        if status == 2:
            continue
        (result,) = results(run)
        if result["exit_status"] != status or (code and result["error_code"] != code):
            fail(f"{args}: {result}")
    if "ERASE OK" in done[9].stdout + done[9].stderr:
        fail(f"ERASE OK shown for a refused erase: {done[9].stderr}")
    for run in done[10:]:
        if "are the same port" not in run.stderr:
            fail(f"one port given twice: {run.stderr!r}")
    file_result = results(done[4])[0]
    if not file_result["error_text"].startswith("This hex file is for: TWPx  Transmitter"):
        fail(f"the refusal of a transmitter's file: {file_result['error_text']!r}")
    orbit = results(done[8])[0]
    if orbit["device"]["name"] != "Orbit Mini" or "CONFIGURE DEVICE" not in orbit["problem"]:
        fail(f"ERASE on an Orbit Mini: {orbit}")
    if not 3003 <= results(done[6])[0]["error_code"] <= 4006:
        fail(f"program failure: {results(done[6])[0]}")
    for dev in devices:
        dev.stop()
    # The refused file: only identification reached the device (ID, FW, FLASH for the
    # bootloader's revision, GO), no page was set, erased, written or checked.
    wire, at, commands = devices[0].wire.read_bytes(), 0, set()
    while at + 1 < len(wire) and wire[at] >= 4 and wire[at] != ord("?"):
        commands.add(wire[at + 1])
        at += wire[at]
    # SCAN's probes for the serial-menu products ("?" and carriage returns) follow the packets.
    if set(wire[at:]) - set(b"?\r") or not commands <= {0x40, 0x42, 0x52, 0x5E}:
        fail(f"the device with the refused file received commands {sorted(commands)}")
    if set(devices[0].flash.read_bytes()) != {0xFF}:
        fail("the device with the refused file was changed")


def case_parallel(folder):
    hex_path = write_hex(folder / "receiver.hex", "D", 0, image(384, 5))
    devices = [Device(folder, 1, QTR), Device(folder, 2, QTR, "--fault", "silence"),
               Device(folder, 3, QTR)]
    run = cli(folder, "program", hex_path, "--port", "COM1", "--port", "COM2", "--port",
              "COM3", "--json", status=5)
    outcomes = {r["port"]: (r["outcome"], r["failure"]) for r in results(run)}
    if outcomes != {"COM1": ("ok", ""), "COM2": ("failed", "identification"),
                    "COM3": ("ok", "")}:
        fail(f"results: {outcomes}")
    if "FAILED  identification" not in run.stderr.replace("   ", "  "):
        fail(f"no summary table:\n{run.stderr}")
    devices[1].stop()
    for dev in devices[::2]:
        dev.holds(hex_path)


if __name__ == "__main__":
    BUILD = pathlib.Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory(prefix="rompush-cli-test-") as work:
        try:
            globals()["case_" + sys.argv[2]](pathlib.Path(work))
        finally:
            for proc in RUNNING:
                proc.terminate()
                proc.wait()
    print("ok")
