"""A Linux guest with real serial drivers, for isp-flash to meet them.

QEMU boots Debian's own kernel (fetched with apt-get download and unpacked,
never installed) with a busybox initramfs that loads the kernel's USB-serial
modules. The guest's ports are QEMU's emulated FTDI adapters on an xHCI
controller and a second 16550 UART, each wired to an isp-sim on a host
pseudo-terminal. The host drives a shell on the guest's console and plugs
adapters in and out through QMP.
"""
import codecs
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# The USB-serial stack; what they depend on is read from the modules themselves.
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]


class Failure(Exception):
    pass


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


def _norm(name):
    return name.replace("-", "_")


def _kernel_package():
    """The kernel package that linux-image-amd64 depends on today."""
    for attempt in range(2):
        r = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], capture_output=True, text=True)
        m = re.search(r"Depends: (linux-image-\d\S*)", r.stdout)
        if m:
            return m.group(1)
        if attempt == 0:
            run(([] if os.geteuid() == 0 else ["sudo"]) + ["apt-get", "update", "-qq"])
    raise Failure("apt cannot tell which kernel linux-image-amd64 depends on")


def _depends(ko):
    m = re.search(rb"depends=([^\0]*)\0", ko.read_bytes())
    return [_norm(d) for d in m.group(1).decode().split(",") if d] if m else []


def fetch_kernel(cache):
    """The kernel image and the modules in load order, kept under cache/."""
    pkg = _kernel_package()
    kept = cache / pkg
    if not (kept / "order").exists():
        shutil.rmtree(kept, ignore_errors=True)
        scratch = cache / "unpack"
        shutil.rmtree(scratch, ignore_errors=True)
        scratch.mkdir(parents=True)
        scratch.chmod(0o777)  # apt's download user writes here
        run(["apt-get", "download", "-qq", pkg], cwd=scratch, stdout=subprocess.DEVNULL)
        deb = next(scratch.glob(f"{pkg}_*.deb"))
        run(["dpkg-deb", "-x", deb, scratch / "tree"])
        version = pkg.removeprefix("linux-image-")
        kept.mkdir(parents=True)
        shutil.copy(scratch / "tree/boot" / f"vmlinuz-{version}", kept / "vmlinuz")
        files = {_norm(p.name[:-3]): p for p in (scratch / "tree/lib/modules" / version).rglob("*.ko")}
        order = []

        def visit(name):
            if name in order:
                return
            if name not in files:
                raise Failure(f"{pkg} has no module {name}")
            for dep in _depends(files[name]):
                visit(dep)
            order.append(name)

        for name in MODULES:
            visit(_norm(name))
        for name in order:
            shutil.copy(files[name], kept / f"{name}.ko")
        (kept / "order").write_text(" ".join(order) + "\n")
        shutil.rmtree(scratch)
    return kept


def _libraries(binary):
    out = subprocess.run(["ldd", str(binary)], capture_output=True, text=True, check=True).stdout
    return re.findall(r"(/\S+) \(0x", out)


def build_initramfs(work, kernel, isp_flash, files):
    """The initramfs: busybox, the modules, isp-flash with its libraries and
    the given files at /; rebuilt only when one of them changed."""
    inputs = [ROOT / "tests/guest/init", Path("/bin/busybox"), Path(isp_flash), kernel / "order"]
    inputs += sorted(kernel.glob("*.ko")) + [Path(f) for f in files.values()]
    digest = hashlib.sha256()
    for f in inputs:
        digest.update(str(f).encode() + f.read_bytes())
    image = work / "initramfs.cpio"
    stamp = work / "initramfs.sha256"
    if image.exists() and stamp.exists() and stamp.read_text() == digest.hexdigest():
        return image

    tree = work / "initramfs"
    shutil.rmtree(tree, ignore_errors=True)
    for d in ["bin", "proc", "sys", "dev", "modules", "run", "tmp"]:
        (tree / d).mkdir(parents=True)
    shutil.copy("/bin/busybox", tree / "bin/busybox")
    shutil.copy(ROOT / "tests/guest/init", tree / "init")
    (tree / "init").chmod(0o755)
    for ko in kernel.glob("*.ko"):
        shutil.copy(ko, tree / "modules")
    shutil.copy(kernel / "order", tree / "modules/order")
    run(["objcopy", "--strip-debug", isp_flash, tree / "bin/isp-flash"])
    for lib in _libraries(isp_flash):
        dest = tree / lib.lstrip("/")
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(lib, dest)
    for name, src in files.items():
        shutil.copy(src, tree / name)
    listing = subprocess.run(["find", "."], cwd=tree, capture_output=True, check=True).stdout
    with open(image, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "-R", "0:0", "--quiet"], cwd=tree, input=listing, stdout=out,
                       check=True)
    stamp.write_text(digest.hexdigest())
    return image


class Sim:
    """An isp-sim on a new pseudo-terminal, its lines on standard error kept
    with the time they came."""

    def __init__(self, exe, image, *args):
        self.image = Path(image)
        self.image.unlink(missing_ok=True)
        self.proc = subprocess.Popen([str(exe), "--verbose", "--image", str(image), *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.path = self.proc.stdout.readline().strip()
        if not self.path:
            raise Failure("isp-sim did not start: " + self.proc.stderr.read())
        self.lines = []
        self._cv = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stderr:
            with self._cv:
                self.lines.append(line.rstrip("\n"))
                self._cv.notify_all()

    def wait_for(self, text, timeout, since=0):
        """Waits for a line, among those from index since on."""
        with self._cv:
            if not self._cv.wait_for(lambda: f"isp-sim: {text}" in self.lines[since:], timeout):
                raise Failure(f"the stand-in on {self.path} never logged '{text}'")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


class Qmp:
    """QEMU's machine protocol on a Unix socket."""

    def __init__(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(str(path))
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise Failure("QEMU's QMP socket never opened")
                time.sleep(0.05)
        self.file = self.sock.makefile("rw")
        self.file.readline()  # the greeting
        self.execute("qmp_capabilities")

    def execute(self, command, **arguments):
        self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            reply = json.loads(self.file.readline())
            if "error" in reply:
                raise Failure(f"QMP {command}: {reply['error']['desc']}")
            if "return" in reply:
                return reply["return"]


class Guest:
    """A booted guest whose console shell runs commands for the host.

    chardevs: {id: pty path}, each the host end of one emulated port;
    devices: -device arguments present at boot."""

    def __init__(self, work, kernel, initramfs, chardevs, devices, accel):
        self.qmp_path = qmp_path = work / "qmp.sock"
        qmp_path.unlink(missing_ok=True)
        cmd = ["qemu-system-x86_64", "-machine", "pc", "-accel", accel, *(["-cpu", "host"] if accel == "kvm" else []), "-smp", "1", "-m", "256",
               "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
               "-kernel", kernel / "vmlinuz", "-initrd", initramfs,
               "-append", "console=ttyS0 quiet panic=-1",
               "-chardev", "stdio,id=console,signal=off", "-serial", "chardev:console",
               "-qmp", f"unix:{qmp_path},server=on,wait=off"]
        for cid, path in chardevs.items():
            cmd += ["-chardev", f"serial,id={cid},path={path}"]
        for dev in devices:
            cmd += ["-device", dev]
        self.started = time.monotonic()
        self.stderr = open(work / "qemu.err", "w+b")
        self.proc = subprocess.Popen([str(c) for c in cmd], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr)
        self.buf = ""
        self._cv = threading.Condition()
        self._token = 0
        threading.Thread(target=self._read, daemon=True).start()
        self.qmp = None

    def _read(self):
        # A character may be split between two reads.
        text = codecs.getincrementaldecoder("utf-8")("replace")
        while chunk := self.proc.stdout.read1(4096):
            with self._cv:
                self.buf += text.decode(chunk)
                self._cv.notify_all()
        with self._cv:
            self._cv.notify_all()

    def wait_for(self, pattern, timeout, start=0):
        """The first match of pattern in the console output from start on."""
        rx = re.compile(pattern)
        with self._cv:
            ok = self._cv.wait_for(lambda: rx.search(self.buf, start) or self.proc.poll() is not None, timeout)
            m = rx.search(self.buf, start)
        if not m:
            self.stderr.seek(0)
            why = "QEMU ended" if ok else f"no '{pattern}' within {timeout} s"
            raise Failure(f"guest console: {why}\n{self.buf[start:][-2000:]}\n{self.stderr.read().decode()[-2000:]}")
        return m

    def boot(self, timeout):
        """Waits for the shell; returns the guest's uptime then."""
        m = self.wait_for(r"guest-ready ([\d.]+)", timeout)
        self.qmp = Qmp(self.qmp_path)
        return float(m.group(1))

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def sh(self, command, timeout=60):
        """Runs command in the guest's shell: (exit status, output)."""
        self._token += 1
        with self._cv:
            start = len(self.buf)
        self.send(command)
        self.send(f'printf "\\n@@%s %s@@\\n" {self._token} $?')
        m = self.wait_for(rf"\n@@{self._token} (\d+)@@\n", timeout, start)
        return int(m.group(1)), self.buf[start:m.start()].strip("\n")

    def must(self, command, timeout=60):
        status, out = self.sh(command, timeout)
        if status != 0:
            raise Failure(f"guest: '{command}' ended with {status}:\n{out}")
        return out

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
