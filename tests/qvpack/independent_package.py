#!/usr/bin/env python3
"""A second, independent implementation of the package layout (writer and
reader walk), cross-checked against qvpack in both directions, on sound and
on damaged packages.

usage: independent_package.py QVPACK
"""

import hashlib
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

MARKER = b"chunked-installer-tail"
MAX_LENGTH = 2**31 - 4

# ---------------------------------------------------------------- writing


def record(payload, length=None, digest=None):
    """payload, 32-bit little-endian length, MD5 of the payload."""
    if length is None:
        length = len(payload)
    if digest is None:
        digest = hashlib.md5(payload).digest()
    return payload + struct.pack("<I", length) + digest


def write_package(stub, groups, trailing=b"", stub_digest=None, junk=b""):
    """groups: ("file", name, file_name, data) / ("value", name, text) /
    ("raw", payload). Returns the bytes of the package."""
    out = [junk, record(stub, digest=stub_digest), record(b"Reader.exe"), record(b"stub"), record(b"stub")]
    for group in groups:
        if group[0] == "file":
            _, name, file_name, data = group
            out += [record(data), record(file_name), record(name), record(b"file")]
        elif group[0] == "value":
            _, name, text = group
            out += [record(text), record(name), record(b"value")]
        else:
            out.append(record(group[1]))
    out.append(record(MARKER))
    out.append(trailing)
    return b"".join(out)


# ---------------------------------------------------------------- reading


class File:
    """A file with a 32-bit file pointer: relative moves that fail before the
    start, reads that stop at the end and leave the rest of the buffer zero."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def move(self, distance):
        target = self.pos + distance
        if target < 0 or target >= 2**32 - 1:
            return False
        self.pos = target
        return True

    def read(self, count):
        chunk = self.data[self.pos:self.pos + count]
        self.pos += len(chunk)
        return chunk + bytes(count - len(chunk))


def find_tail(f):
    """The sliding 22-byte window, one byte per step, from the end."""
    f.pos = len(f.data)
    if not f.move(-23) or f.pos <= 22:
        return False
    while True:
        if f.read(22) == MARKER:
            f.move(20)
            return True
        if not f.move(-23) or f.pos <= 22:
            return False


def read_record(f):
    """(status, payload, offset, length); status ok / mismatch / failed."""
    if not f.move(-16):
        return "failed", b"", 0, 0
    stored = f.read(16)
    if not f.move(-20):
        return "failed", b"", 0, 0
    (length,) = struct.unpack("<I", f.read(4))
    if length > MAX_LENGTH or not f.move(-(length + 4)):
        return "failed", b"", 0, 0
    offset = f.pos
    payload = f.read(length)
    if hashlib.md5(payload).digest() != stored:
        return "mismatch", payload, offset, length
    if not f.move(-length):
        return "failed", payload, offset, length
    return "ok", payload, offset, length


def plain(file_name):
    return file_name not in (b"", b".", b"..") and not any(c in file_name for c in b"\\/:\0")


def walk(data, listing=False):
    """The launcher's walk. Returns a dict: found (marker), valid, values
    (the launcher's table: first entry wins), written [(file_name, data)],
    records [(offset, length, digest state, role)] in reading order."""
    f = File(data)
    result = {"found": False, "valid": False, "table": {}, "value_names": [], "written": [], "records": []}
    if not find_tail(f):
        return result
    result["found"] = True
    table = result["table"]

    def take(role, verified=True):
        status, payload, offset, length = read_record(f)
        if status == "failed":
            result["valid"] = False
            return None
        if callable(role):
            role = role(payload)
        state = "ok" if status == "ok" else ("BAD" if verified else "differs")
        result["records"].append((offset, length, state, role))
        if status == "mismatch":
            if verified:
                result["valid"] = False
                if not listing:
                    return None
            if not f.move(-length):
                return None
        return payload

    def kind_role(kind):
        return {MARKER: "tail record", b"value": "kind", b"file": "kind", b"stub": "stub kind"}.get(kind, "unknown kind")

    while True:
        kind = take(kind_role)
        if kind is None:
            break
        if kind == MARKER:
            result["valid"] = True
            continue
        name = take({b"value": "value name", b"file": "name", b"stub": "stub name"}.get(kind, "unknown name"))
        if name is None:
            break
        if kind == b"value":
            text = take("value text")
            if text is None:
                break
            if name not in table:
                table[name] = text
                result["value_names"].append(name)
        elif kind == b"file":
            file_name = take("file name")
            content = take("file data") if file_name is not None else None
            if content is None:
                break
            if name and name not in table:
                table[name] = file_name
            if not plain(file_name):
                result["valid"] = False
                if listing:
                    continue  # a listing shows the records behind it too
                break
            result["written"].append((file_name, content))
        elif kind == b"stub":
            if listing:
                valid = result["valid"]
                if take("stub file name", verified=False) is not None:
                    take("stub data", verified=False)
                result["valid"] = valid
            result["stub"] = True
            break
    result["valid"] = result["valid"] and result.get("stub", False)
    return result


# ---------------------------------------------------------------- qvpack


class Check:
    def __init__(self, qvpack, folder):
        self.qvpack = qvpack
        self.folder = folder
        self.failures = 0
        self.checks = 0
        self.counter = 0

    def path(self, name):
        return os.path.join(self.folder, name)

    def run(self, *args):
        done = subprocess.run([self.qvpack] + list(args), capture_output=True)
        return done.returncode, done.stdout, done.stderr

    def expect(self, condition, what):
        self.checks += 1
        if not condition:
            self.failures += 1
            print("FAILED: " + what, file=sys.stderr)

    def compare(self, data, label):
        """qvpack's list, verify and extract against the walk above."""
        self.counter += 1
        package = self.path("p%d.exe" % self.counter)
        with open(package, "wb") as out:
            out.write(data)
        expected = walk(data)

        code, out, err = self.run("verify", package)
        self.expect(code == (0 if expected["valid"] else 1), "%s: verify exit %d, valid %s" % (label, code, expected["valid"]))
        self.expect(code == 0 or err.count(b"\n") == 1, "%s: one line of reason: %r" % (label, err))

        folder = self.path("x%d" % self.counter)
        os.mkdir(folder)
        code, out, err = self.run("extract", "-C", folder, package)
        self.expect(code == (0 if expected["valid"] else 1), "%s: extract exit %d" % (label, code))
        files = {}
        for file_name, content in expected["written"]:
            files[file_name.decode("latin-1")] = content
        found = {}
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
        self.expect(found == files, "%s: extracted %s, expected %s" % (label, sorted(found), sorted(files)))
        if expected["found"]:
            values = [parse_value_line(line) for line in out.splitlines()]
            wanted = [(n, expected["table"][n]) for n in expected["value_names"]]
            self.expect(values == wanted, "%s: values %r, expected %r" % (label, values, wanted))

        code, out, err = self.run("list", package)
        if not expected["found"]:
            self.expect(code == 1, "%s: list of a file without a tail exits 1" % label)
            return expected
        listed = walk(data, listing=True)
        rows = parse_list(out)
        wanted = sorted(listed["records"])
        self.expect(rows == wanted, "%s: list\n%s\nexpected %r" % (label, out.decode("latin-1"), wanted))
        return expected


def unquote(field):
    if not field.startswith('"'):
        return field.encode("latin-1")
    body, out, i = field[1:-1], bytearray(), 0
    simple = {"\\": b"\\", '"': b'"', "t": b"\t", "r": b"\r", "n": b"\n"}
    while i < len(body):
        if body[i] != "\\":
            out += body[i].encode("latin-1")
            i += 1
        elif body[i + 1] == "x":
            out.append(int(body[i + 2:i + 4], 16))
            i += 4
        else:
            out += simple[body[i + 1]]
            i += 2
    return bytes(out)


def parse_value_line(line):
    fields = re.findall(r'"(?:[^"\\]|\\.)*"|\S+', line.decode("latin-1"))
    assert fields[0] == "value" and len(fields) == 3, line
    return unquote(fields[1]), unquote(fields[2])


def parse_list(out):
    rows = []
    for line in out.decode("latin-1").splitlines()[1:]:
        if line.startswith("tail record") or not line[:10].strip().isdigit():
            break
        rows.append((int(line[0:10]), int(line[11:21]), line[23:30].strip(), line[32:46].strip()))
    return rows


# ---------------------------------------------------------------- the cases


def random_bytes(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))


def random_groups(rng):
    groups = []
    names = [b"installer32", b"executable32", b"parameters", b"msilog", b"", b"x"]
    for _ in range(rng.randint(0, 6)):
        pick = rng.random()
        if pick < 0.45:
            groups.append(("value", rng.choice(names), random_bytes(rng, rng.randint(0, 40))))
        elif pick < 0.9:
            file_name = rng.choice([b"setup.exe", b"data.bin", b"empty", b"a b.txt"])
            groups.append(("file", rng.choice(names), file_name, b"MZ" + random_bytes(rng, rng.randint(0, 3000))))
        else:
            groups.append(("raw", rng.choice([b"Value", b"file ", b"", b"x"])))
    return groups


def damages(rng, data):
    """One changed byte here and there, a cut end, a length pointing before
    the start of the file."""
    out = []
    for _ in range(6):
        at = rng.randrange(len(data))
        changed = bytearray(data)
        changed[at] ^= 1 << rng.randrange(8)
        out.append(("byte %d changed" % at, bytes(changed)))
    out.append(("last 10 bytes cut", data[:-10]))
    tail = data.rfind(MARKER)
    if tail > 0:
        bogus = bytearray(data)
        # the length of the record before the tail record
        bogus[tail - 20:tail - 16] = struct.pack("<I", 0x7FFFFFF0)
        out.append(("length before the start", bytes(bogus)))
    return out


def main():
    qvpack = sys.argv[1]
    rng = random.Random(20240611)
    with tempfile.TemporaryDirectory() as folder:
        check = Check(qvpack, folder)
        # Not a PE image ("MZ"), which qvpack would cut to its sections: carried whole.
        stub = b"\x7fELF" + random_bytes(rng, 996)

        # Packages written here, read by qvpack; sound and damaged.
        fixed = [
            [("file", b"installer32", b"setup.exe", b"MZ" + random_bytes(rng, 5000)),
             ("value", b"executable32", b"%installer32%"),
             ("value", b"parameters", b'/V"PARTNERID=5 WEBINSTALLER=1 "'),
             ("value", b"msilog", b"ON")],
            [("value", b"a", b"first"), ("value", b"a", b"second"), ("file", b"", b"empty", b"")],
            [("value", b"a", b"1"), ("raw", b"value"), ("raw", b"b"), ("raw", b"Value")],
            [("file", b"bad", b"..\\up.txt", b"x"), ("value", b"later", b"y")],
            [("file", b"bad", b"", b"x")],
        ]
        for index, groups in enumerate(fixed):
            for trailing in (b"", bytes(7) + b"\x30" + random_bytes(rng, 300)):
                data = write_package(stub, groups, trailing)
                check.compare(data, "fixed %d" % index)
                for what, damaged in damages(rng, data):
                    check.compare(damaged, "fixed %d, %s" % (index, what))
        check.compare(write_package(stub, fixed[0], stub_digest=bytes(16)), "stub digest that does not match")
        check.compare(write_package(stub, fixed[0], junk=record(b"t") + record(b"n") + record(b"value")), "junk before the stub")
        check.compare(b"MZ" + bytes(3000), "no marker")
        for index in range(25):
            groups = random_groups(rng)
            data = write_package(stub, groups, random_bytes(rng, rng.randint(0, 50)).replace(b"c", b"C"))
            check.compare(data, "random %d" % index)
            what, damaged = rng.choice(damages(rng, data))
            check.compare(damaged, "random %d, %s" % (index, what))

        # Packages written by qvpack, read here.
        with open(check.path("stub.exe"), "wb") as f:
            f.write(stub)
        for index in range(8):
            groups = [g for g in random_groups(rng) if g[0] != "raw" and (g[0] != "file" or plain(g[2]))]
            args = ["build", "-o", check.path("q.exe"), "--stub", check.path("stub.exe"), "--stub-file-name", "Reader.exe"]
            for n, group in enumerate(groups):
                if group[0] == "file":
                    source = check.path("src%d" % n)
                    with open(source, "wb") as f:
                        f.write(group[3])
                    args += ["--file", group[1], group[2], source]
                else:
                    if b"\0" in group[1] + group[2]:
                        continue  # a command line cannot carry a zero byte
                    args += ["--value", group[1], group[2]]
            groups = [g for g in groups if not (g[0] == "value" and b"\0" in g[1] + g[2])]
            code, out, err = check.run(*args)
            check.expect(code == 0, "build %d: %r" % (index, err))
            with open(check.path("q.exe"), "rb") as f:
                built = f.read()
            check.expect(built == write_package(stub, groups), "build %d: the same bytes as written here" % index)
            result = walk(built)
            check.expect(result["valid"], "build %d: valid here" % index)
            for what, damaged in damages(rng, built):
                check.compare(damaged, "build %d, %s" % (index, what))

        # A manifest gives the same package as the command line; a package
        # given as the launcher contributes only its launcher image.
        manifest = check.path("m.txt")
        with open(manifest, "w") as f:
            f.write('# comment\nstub stub.exe Reader.exe\nvalue parameters "/V\\"PARTNERID=5 WEBINSTALLER=1 \\""\n'
                    "value msilog ON\nalign 8\n")
        code, out, err = check.run("build", "-o", check.path("m.exe"), "--manifest", manifest)
        check.expect(code == 0, "manifest build: %r" % err)
        with open(check.path("m.exe"), "rb") as f:
            built = f.read()
        body = write_package(stub, [("value", b"parameters", b'/V"PARTNERID=5 WEBINSTALLER=1 "'), ("value", b"msilog", b"ON")])
        check.expect(built == body + bytes(-len(body) % 8), "manifest build: the same bytes as written here")
        code, out, err = check.run("build", "-o", check.path("r.exe"), "--stub", check.path("m.exe"), "--value", "k", "v")
        with open(check.path("r.exe"), "rb") as f:
            check.expect(f.read() == write_package(stub, [("value", b"k", b"v")]), "rebuilt from a package: its image only")

        # Bad input: one line, non-zero exit, no output left behind.
        for args, wanted in [(["build", "-o", check.path("n.exe"), "--stub", check.path("missing")], 1),
                             (["build", "-o", check.path("n.exe")], 2),
                             (["build", "-o", check.path("n.exe"), "--value", "only-a-name"], 2),
                             (["frobnicate"], 2),
                             (["verify", check.path("missing")], 1)]:
            code, out, err = check.run(*args)
            check.expect(code == wanted and err.count(b"\n") == 1 and err.startswith(b"qvpack: "),
                         "%s: exit %d, %r" % (args, code, err))
        check.expect(not os.path.exists(check.path("n.exe")), "no package left after a failed build")
        big = check.path("big.bin")
        with open(big, "wb") as f:
            f.truncate(MAX_LENGTH + 1)  # sparse: never read, refused by its size
        code, out, err = check.run("build", "-o", check.path("n.exe"), "--stub", check.path("stub.exe"),
                                   "--file", "big", "big.bin", big)
        check.expect(code == 1 and b"2147483645 bytes" in err, "a payload beyond the limit is refused: %r" % err)
        check.expect(not os.path.exists(check.path("n.exe")) and not os.path.exists(check.path("n.exe.qvpack-partial")),
                     "nothing left after a refused payload")
        code, out, err = check.run("--help")
        check.expect(code == 0 and b"usage: qvpack" in out, "--help")
        code, out, err = check.run("--version")
        check.expect(code == 0 and out.startswith(b"qvpack "), "--version")

        print("%d checks, %d failed" % (check.checks, check.failures))
        return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
