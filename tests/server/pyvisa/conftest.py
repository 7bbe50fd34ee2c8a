"""zelbo-server processes on the simulated board, for the PyVISA tests.

ZELBO_SERVER names the built server; each server gets its own board log
(ZELBO_BOARD_LOG) and data folder, and is stopped with SIGTERM afterwards.
"""

import os
import pathlib
import signal
import subprocess

import pytest


class ServerProcess:
    def __init__(self, tmp: pathlib.Path, *args: str):
        self.folder = tmp
        self.log = tmp / "board.log"
        self.err = tmp / "server.err"
        env = dict(os.environ)
        env.pop("ZELBO_BOARD", None)
        env["ZELBO_BOARD_LOG"] = str(self.log)
        env["XDG_DATA_HOME"] = str(tmp)
        self.proc = subprocess.Popen(
            [os.environ["ZELBO_SERVER"], "--board", "sim", "--port", "0", "--no-mdns",
             "--files", str(tmp), *args],
            stdout=subprocess.PIPE, stderr=open(self.err, "w"), env=env, text=True)
        line = self.proc.stdout.readline()
        assert " port " in line, line + self.err.read_text()
        self.port = int(line.split(" port ")[1])
        self.resource = f"TCPIP::127.0.0.1::{self.port}::SOCKET"

    def last_write(self, reg: str) -> str:
        last = ""
        for line in self.log.read_text().splitlines():
            if line.startswith(f"W {reg} "):
                last = line[5:]
        return last

    def stop(self) -> int:
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode


@pytest.fixture
def start_server(tmp_path):
    servers = []

    def start(*args, name=None):
        folder = tmp_path / (name or f"server{len(servers)}")
        folder.mkdir()
        s = ServerProcess(folder, *args)
        servers.append(s)
        return s

    yield start
    for s in servers:
        s.stop()


@pytest.fixture
def rm():
    import pyvisa
    manager = pyvisa.ResourceManager("@py")
    yield manager
    manager.close()


def open_instrument(rm, server):
    inst = rm.open_resource(server.resource, read_termination="\n", write_termination="\n")
    inst.timeout = 20000
    return inst
