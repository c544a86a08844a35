#!/usr/bin/python3
"""Drives the agent stand-in with python3-impacket, an independent DCE/RPC client.

Usage: impacket_client.py <test server executable>
Exit status 0 when every check passes, 1 on a failed check, 77 when impacket is missing.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading

try:
    from impacket.dcerpc.v5 import epm, transport
    from impacket.dcerpc.v5.rpcrt import DCERPCException
    from impacket.uuid import uuidtup_to_bin
except ImportError as error:
    print("SKIP: python3-impacket is not available (%s)" % error)
    sys.exit(77)

AGENT_IF = uuidtup_to_bin(("cabcbc10-aaae-11d2-a9f7-00104b7babc3", "1.0"))
UNKNOWN_IF = uuidtup_to_bin(("99999999-8888-7777-6666-555544443333", "1.0"))
KEY = b"SECRET".ljust(16, b"\0")
TIME_LIMIT = 120
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def start_server(path, root):
    env = dict(os.environ, VELTRIS_ROOT=root, VELTRIS_EPM_PORT="0")
    proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            env=env, text=True)
    lines = []
    for line in proc.stdout:
        lines.append(line)
        if line.startswith("LISTENING epm="):
            epm_port = int(line.split("=")[1])
            break
    else:
        raise RuntimeError("test server did not start: %r" % lines)
    drained = []  # keep reading so the server never blocks on a full pipe
    drainer = threading.Thread(target=lambda: drained.extend(proc.stdout), daemon=True)
    drainer.start()
    return proc, epm_port, lines, drained, drainer


def connect(binding):
    rpc = transport.DCERPCTransportFactory(binding)
    rpc.set_connect_timeout(10)
    dce = rpc.get_dce_rpc()
    dce.connect()
    return dce


def request_stub(key, text):
    return key + text.encode().ljust(256, b"\0")


def parse_request_rpc(reply):
    """referent id, [count, bytes, pad], ReplyLength, status"""
    referent, = struct.unpack_from("<I", reply, 0)
    if referent == 0:
        length, status = struct.unpack_from("<Ii", reply, 4)
        return None, length, status, len(reply) == 12
    count, = struct.unpack_from("<I", reply, 4)
    data = reply[8:8 + count]
    offset = 8 + count + (-count % 4)
    length, status = struct.unpack_from("<Ii", reply, offset)
    return data, length, status, len(reply) == offset + 8


def call(dce, opnum, stub):
    dce.call(opnum, stub)
    return dce.recv()


def expect_fault(dce, opnum, stub, name, what):
    try:
        call(dce, opnum, stub)
        check(False, what)
    except DCERPCException as error:
        check(name in str(error), what + " (%s)" % error)


def check_endpoint_mapper(epm_port):
    dce = connect("ncacn_ip_tcp:127.0.0.1[%d]" % epm_port)
    binding = epm.hept_map("127.0.0.1", AGENT_IF, protocol="ncacn_ip_tcp", dce=dce)
    dce.disconnect()
    check(binding is not None and binding.startswith("ncacn_ip_tcp:127.0.0.1["),
          "hept_map finds the agent interface: %s" % binding)
    dce = connect("ncacn_ip_tcp:127.0.0.1[%d]" % epm_port)
    entries = epm.hept_lookup("127.0.0.1", dce=dce)
    dce.disconnect()
    towers = [epm.PrintStringBinding(e["tower"]["Floors"]) for e in entries]
    check(any(t.startswith("ncacn_ip_tcp:") for t in towers) and
          any(t.startswith("ncalrpc:[") for t in towers),
          "hept_lookup lists the TCP and local endpoints: %s" % towers)
    return binding


def check_procedures(binding):
    dce = connect(binding)
    dce.bind(AGENT_IF)
    check(call(dce, 0, b"") == b"\0\0\0\0", "PingRpc returns status 0")

    data, length, status, exact = parse_request_rpc(call(dce, 1, request_stub(KEY, "TOTAL")))
    check(status == 0 and exact and length == len(data) == 37 and data[:4] == b"TASK" and
          data[32:] == b"TOTAL", "RequestRpc returns header and body")

    size = 3 * 1024 * 1024 + 5
    data, length, status, exact = parse_request_rpc(call(dce, 1, request_stub(KEY, "BIG %d" % size)))
    pattern = bytes((i * 31 + (i >> 8)) & 0xFF for i in range(size))
    check(status == 0 and exact and length == size + 32 and data[32:] == pattern,
          "RequestRpc carries a reply of %d bytes in one call" % (size + 32))

    data, length, status, exact = parse_request_rpc(call(dce, 1, request_stub(b"WRONG".ljust(16, b"\0"), "TOTAL")))
    check(data is None and status == -2 and exact, "a wrong key gives status -2 and a null reply")

    expect_fault(dce, 1, b"x" * 10, "rpc_x_bad_stub_data", "a short stub faults")
    expect_fault(dce, 7, b"", "nca_s_op_rng_error", "an unknown opnum faults")
    check(call(dce, 0, b"") == b"\0\0\0\0", "the connection still serves after faults")
    dce.disconnect()

    dce = connect(binding)
    try:
        dce.bind(UNKNOWN_IF)
        check(False, "bind to an unknown interface is refused")
    except DCERPCException as error:
        check("abstract_syntax_not_supported" in str(error),
              "bind to an unknown interface is refused (%s)" % error)
    dce.disconnect()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    signal.alarm(TIME_LIMIT)
    root = tempfile.mkdtemp(prefix="vimpk")
    proc = None
    try:
        proc, epm_port, lines, drained, drainer = start_server(sys.argv[1], root)
        check("RpcServerUseProtseq ncacn_ip_tcp = 0\n" in lines, "server reports its protocol sequences")
        binding = check_endpoint_mapper(epm_port)
        if binding:
            check_procedures(binding)
    finally:
        if proc:
            proc.stdin.close()
            proc.wait(timeout=30)
            drainer.join(timeout=10)
            check("PingRpc\n" in drained, "PingRpc printed on the agent's console")
        shutil.rmtree(root, ignore_errors=True)
    if failures:
        print("%d CHECKS FAILED" % len(failures))
        return 1
    print("ALL CHECKS PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
