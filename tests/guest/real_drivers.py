#!/usr/bin/env python3
"""isp-flash against the kernel's own serial drivers, in a QEMU guest.

Two emulated FTDI adapters (ftdi_sio) and a 16550 (8250), each wired to an
isp-sim on the host. Adapter A is the one isp-flash works on; adapter B has
a device attached that nobody programs, and its driver's log of DTR and RTS
shows whether anything touched it. Adapter A is unplugged mid-transfer and
plugged in again, on a new stand-in.

usage: real_drivers.py BUILD_DIR [WORK_DIR]
"""
import os
import random
import re
import sys
import time
from pathlib import Path

from rig import Failure, Guest, Sim, build_initramfs, fetch_kernel

IMAGE_SIZE = 513 * 130


class Stage:
    def __init__(self, build, work):
        self.build, self.work = build, work
        self.figures = {}
        self.failed = []

    def sim(self, name, *args):
        return Sim(self.build / "sim/isp-sim", self.work / f"{name}.img", *args)

    def check(self, name, case):
        t = time.monotonic()
        try:
            case()
            print(f"  ok    {name} ({time.monotonic() - t:.1f} s)", flush=True)
        except Failure as e:
            self.failed.append(name)
            print(f"  FAIL  {name}: {e}", flush=True)


def com(node):
    """The COM name our table gives a node of the guest."""
    m = re.fullmatch(r"/dev/tty(S|USB|ACM)(\d)", node)
    return "COM%d" % ({"S": 1, "USB": 5, "ACM": 13}[m.group(1)] + int(m.group(2)))


def listing(guest):
    """isp-flash --list as {COM name: (node, adapter, why)}."""
    ports = {}
    for line in guest.must("isp-flash --list").splitlines():
        if line.startswith("COM"):
            fields = line.split("\t") + ["", ""]
            ports[fields[0]] = tuple(fields[1:4])
    return ports


def adapter_node(guest, serial, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for node, adapter, _ in listing(guest).values():
            # What the kernel's sysfs says of QEMU's FTDI adapter, every part of it.
            if adapter == f"USB 0403:6001, QEMU, QEMU USB SERIAL, serial {serial}":
                return node
        time.sleep(0.2)
    raise Failure(f"no adapter with serial {serial} in isp-flash --list:\n{guest.must('isp-flash --list')}")


def mark(guest):
    """A line in the kernel's log to read modem-line changes from."""
    mark.count = getattr(mark, "count", 0) + 1
    guest.must(f"echo isp-mark-{mark.count} >/dev/kmsg")
    return f"isp-mark-{mark.count}"


def modem_lines(guest, since=None):
    """Every change of DTR and RTS that ftdi_sio has logged, after the mark
    since when given: (time, tty, what)."""
    out = guest.must("dmesg | grep -e update_mctrl -e isp-mark || true")
    if since:
        out = out[out.index(since):]
    return [(float(t), tty, what) for t, tty, what in
            re.findall(r"\[\s*([\d.]+)\] ftdi_sio (ttyUSB\d+): update_mctrl - (.*)", out)]


def expect(cond, what):
    if not cond:
        raise Failure(what)


def same_image(sim, firmware):
    expect(sim.image.exists(), f"the stand-in on {sim.path} wrote no image")
    expect(sim.image.read_bytes() == firmware.read_bytes(), "the programmed image differs from the file")


def main():
    build = Path(sys.argv[1]).resolve()
    work = Path(sys.argv[2] if len(sys.argv) > 2 else build.parent / "guest").resolve()
    work.mkdir(parents=True, exist_ok=True)
    stage = Stage(build, work)
    t_stage = time.monotonic()

    kernel = fetch_kernel(work)
    firmware = work / "fw.isp"
    firmware.write_bytes(random.Random(14).randbytes(IMAGE_SIZE))
    initramfs = build_initramfs(work, kernel, build / "cli/isp-flash", {"fw.isp": firmware})

    # The emulated ports pass bytes on at once: the stand-ins of the first
    # transfers pace them as a 19200-baud line would.
    paced = ["--baud", "19200"]
    sims = {"usbA": stage.sim("usbA", *paced), "usbB": stage.sim("usbB"), "uart": stage.sim("uart", *paced),
            "usbA2": stage.sim("usbA2"), "usbC": stage.sim("usbC"), "usbD": stage.sim("usbD"), "usbC2": stage.sim("usbC2")}
    devices = ["isa-serial,chardev=uart", "qemu-xhci,id=xhci",
               "usb-serial,bus=xhci.0,chardev=usbA,id=adapterA,serial=ISP-A",
               "usb-serial,bus=xhci.0,chardev=usbB,id=adapterB,serial=ISP-B"]
    chardevs = {name: s.path for name, s in sims.items()}

    # KVM where it can boot a stock kernel; otherwise, as on this project's
    # machines, the software CPU. The answer is kept for the next run.
    accel_file = work / "accel"
    accels = [accel_file.read_text().strip()] if accel_file.exists() else (
        ["kvm", "tcg"] if os.access("/dev/kvm", os.R_OK | os.W_OK) else ["tcg"])
    guest = None
    try:
        for accel in accels:
            guest = Guest(work, kernel, initramfs, chardevs, devices, accel)
            try:
                uptime = guest.boot(20 if accel == "kvm" and len(accels) > 1 else 120)
                accel_file.write_text(accel)
                break
            except Failure:
                guest.stop()
                if accel == accels[-1]:
                    raise
        stage.figures["boot to the shell"] = f"{time.monotonic() - guest.started:.1f} s ({accel}; " \
                                             f"the guest's own clock: {uptime:.1f} s)"
        run_cases(stage, guest, sims, firmware)
    finally:
        if guest:
            guest.stop()
        for s in sims.values():
            s.stop()

    stage.figures["the whole stage"] = f"{time.monotonic() - t_stage:.0f} s"
    print("figures:")
    for k, v in stage.figures.items():
        print(f"  {k}: {v}")
    (work / "figures.txt").write_text("".join(f"{k}: {v}\n" for k, v in stage.figures.items()))
    if stage.failed:
        print("real-driver cases failed: " + ", ".join(stage.failed))
        return 1
    return 0


def run_cases(stage, guest, sims, firmware):
    g = guest
    ports = {}

    def listed():
        before = mark(g)
        ports["A"] = adapter_node(g, "ISP-A")
        ports["B"] = adapter_node(g, "ISP-B")
        found = listing(g)
        expect(found.get("COM2") == ("/dev/ttyS1", "", ""), f"the UART is not COM2, or not as a UART: {found}")
        expect("COM3" not in found, "an empty UART slot was listed")
        touched = modem_lines(g, before)
        expect(not touched, f"listing the ports changed modem lines: {touched}")

    def identified():
        a = ports["A"]
        lock = "/run/lock/LCK.." + a.removeprefix("/dev/")
        ports["A settings"] = g.must(f"stty -F {a} -g")
        g.must(f"printf '%10d\\n' 99999 >{lock}")  # left by a process that is gone
        status, out = g.sh(f"isp-flash --port {com(a)} --identify")
        expect(status == 0, f"identification ended with {status}:\n{out}")
        expect("Устройство SIM-1 в режиме программирования" in out, f"the device's name is not in the log:\n{out}")
        expect(g.sh(f"test -e {lock}")[0] != 0, "the lock was not released")

    def whole_usb():
        a, b = ports["A"], ports["B"]
        before = mark(g)
        t = time.monotonic()
        status, out = g.sh(f"isp-flash --port {com(a)} --file /fw.isp --interval 0 --quiet", timeout=240)
        stage.figures["whole transfer over the USB adapter, paced, --interval 0"] = f"{time.monotonic() - t:.1f} s"
        expect(status == 0, f"the transfer ended with {status}:\n{out[-600:]}")
        same_image(sims["usbA"], firmware)
        lines = modem_lines(g, before)
        expect(not [x for x in lines if x[1] == b.removeprefix("/dev/")], f"the idle adapter saw {lines}")
        mine = [x for x in lines if x[1] == a.removeprefix("/dev/")]
        high = next((x for x in mine if x[2].startswith("DTR HIGH")), None)
        low = next((x for x in mine if high and x[0] >= high[0] and x[2].startswith("DTR LOW")), None)
        expect(high and low, f"no pulse at the open in the driver's log: {mine}")
        stage.figures["DTR/RTS pulse at the transfer's open"] = f"{(low[0] - high[0]) * 1000:.2f} ms"
        expect(g.must(f"stty -F {a} -g") == ports["A settings"], "the adapter's settings were not restored")

    def whole_uart():
        saved = g.must("stty -F /dev/ttyS1 -g")
        t = time.monotonic()
        status, out = g.sh("isp-flash --port COM2 --file /fw.isp --interval 0 --quiet", timeout=240)
        stage.figures["whole transfer over the UART, paced, --interval 0"] = f"{time.monotonic() - t:.1f} s"
        expect(status == 0, f"the transfer ended with {status}:\n{out[-600:]}")
        same_image(sims["uart"], firmware)
        expect(g.must("stty -F /dev/ttyS1 -g") == saved, "the UART's settings were not restored")

    def second_instance():
        a, sim = ports["A"], sims["usbA"]
        ports["mark"] = len(sim.lines)
        g.must(f"isp-flash --port {com(a)} --file /fw.isp >/tmp/bg.out 2>/tmp/bg.err & echo $! >/tmp/bg.pid")
        ports["pid"] = pid = g.must("cat /tmp/bg.pid")
        sim.wait_for("record 5", 30, ports["mark"])
        before = mark(g)
        status, out = g.sh(f"isp-flash --port {com(a)} --identify")
        expect(status == 3 and "in use" in out and f"PID {pid}" in out,
               f"a second instance on a busy port ended with {status}:\n{out}")
        touched = modem_lines(g, before)
        expect(not touched, f"the second instance changed modem lines: {touched}")

    def unplugged():
        a, sim = ports["A"], sims["usbA"]
        sim.wait_for("record 20", 30, ports["mark"])
        # Pulled out in the quiet between records: QEMU 7.2 crashes when bytes
        # reach an emulated adapter that is being removed.
        time.sleep(0.05)
        t = time.monotonic()
        g.qmp.execute("device_del", id="adapterA")
        status, _ = g.sh(f"wait {ports['pid']}")
        stage.figures["unplug to exit"] = f"{time.monotonic() - t:.2f} s"
        err, out = g.must("cat /tmp/bg.err"), g.must("cat /tmp/bg.out")
        expect(status == 1, f"the unplugged transfer ended with {status}")
        expect("unplugged" in err and a in err, f"standard error does not name the unplug:\n{err}")
        failed = re.search(r"^Ошибка 256, блок (\d+)$", out, re.M)
        expect(failed, f"the log has no error 256:\n{out[-300:]}")
        stage.figures["unplugged after record 20: the log says"] = failed.group(0)

    def replugged():
        g.qmp.execute("device_add", driver="usb-serial", bus="xhci.0", chardev="usbA2", id="adapterA2",
                      serial="ISP-A")
        a = adapter_node(g, "ISP-A")
        status, out = g.sh(f"isp-flash --port {com(a)} --file /fw.isp --interval 0 --quiet", timeout=240)
        expect(status == 0, f"the transfer after the replug ended with {status}:\n{out[-600:]}")
        same_image(sims["usbA2"], firmware)

    def station():
        def plug(chardev, serial):
            g.qmp.execute("device_add", driver="usb-serial", bus="xhci.0", chardev=chardev, id=chardev, serial=serial)
            sims[chardev].wait_for("record 512", 60)

        t = time.monotonic()
        g.must("isp-flash --station --port COM7,COM8 --file /fw.isp --interval 0 --report /tmp/made.jsonl "
               ">/tmp/st.out 2>/tmp/st.err & echo $! >/tmp/st.pid")
        pid = g.must("cat /tmp/st.pid")
        plug("usbC", "ISP-C")
        plug("usbD", "ISP-D")
        # Out between two of the station's questions (see the unplug above).
        mark = len(sims["usbC"].lines)
        sims["usbC"].wait_for("frame", 10, mark)
        time.sleep(0.05)
        g.qmp.execute("device_del", id="usbC")
        time.sleep(1)
        plug("usbC2", "ISP-C")
        time.sleep(1.5)  # still answering: not programmed again
        status, _ = g.sh(f"kill -INT {pid}; wait {pid}")
        stage.figures["station: two adapters, one unplugged and back"] = f"{time.monotonic() - t:.1f} s"
        out, made = g.must("cat /tmp/st.out"), g.must("cat /tmp/made.jsonl").splitlines()
        expect(status == 0, f"the station ended with {status}:\n{out}\n{g.must('cat /tmp/st.err')}")
        expect(len(made) == 3 and all('"result":"completed"' in line for line in made), f"the report:\n{made}")
        for name in ["usbC", "usbD", "usbC2"]:
            same_image(sims[name], firmware)

    def idle_untouched():
        b = ports["B"].removeprefix("/dev/")
        touched = [x for x in modem_lines(g) if x[1] == b]
        expect(not touched, f"the adapter nobody used saw modem-line changes: {touched}")

    for name, case in [("--list names the USB adapters and touches no line", listed),
                       ("identification, a stale lock taken over", identified),
                       ("whole transfer on the USB adapter", whole_usb),
                       ("whole transfer on the UART", whole_uart),
                       ("a second instance during a transfer", second_instance),
                       ("an unplug mid-transfer", unplugged),
                       ("a replug, then a whole transfer", replugged),
                       ("a station: two adapters plugged in, one again", station),
                       ("the idle adapter's lines never changed", idle_untouched)]:
        stage.check(name, case)
        if name.startswith("--list") and stage.failed and "A" not in ports:
            break


if __name__ == "__main__":
    sys.exit(main())
