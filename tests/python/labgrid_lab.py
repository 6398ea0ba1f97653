# SPDX-License-Identifier: MIT
"""A labgrid lab on one machine, for the remote tests.

`Lab` starts an SSH server on a free port of 127.0.0.1 (own host key,
client key, configuration and pid file in a scratch folder: nothing of the
system's SSH set-up is read or changed), labgrid's coordinator and an
exporter, and points this process's SSH at that server: an `ssh` wrapper put
first on PATH adds `-F` with a client configuration in which the exporter's
published host name is an alias of 127.0.0.1 and that port. labgrid runs the
`ssh` binary (and rsync, which runs `ssh` too) through PATH, so its agents and
connection manager reach the "exporter host" through that server.

The server runs every session through a forced command that sets PATH to the
folder of this interpreter first, so that the `python3` the agents run is the
one that has pyvantorsdk (the user's shell start-up files may set PATH too;
the forced command runs after them), and the variables of SESSION_ENV as this
process has them.

Everything started carries the environment variable `VANTOR_LAB=<scratch
folder>`: the server and what it forks (its per-connection processes leave
its process group), the sessions, and the ssh processes that labgrid starts
from this process (some detach, like the connection master). `Lab.close`
stops the exporter, coordinator and server, then ends every process left that
carries the mark.
"""

from __future__ import annotations

import getpass
import os
import shlex
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable, Dict, List, Optional, Sequence, TypeVar

import pytest

SSHD = "/usr/sbin/sshd"
# The exporter publishes this as its host name; the client's SSH
# configuration maps it to the lab's server.
EXPORTER_HOST = "vantor-lab-exporter"
EXPORTER_NAME = "vantor-lab"
# Starting a lab piece, or an exported resource turning up at the
# coordinator, takes a second or two on an idle machine; the deadline allows
# for a loaded one.
START_TIMEOUT = 20.0
# What the exporter host's sessions take over from this process, besides
# PATH: where the package is imported from, and the sanitizer runtime and
# options when the tests run against a sanitized module.
SESSION_ENV = ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")

T = TypeVar("T")


def wait_for(what: str, probe: Callable[[], Optional[T]], timeout: float = START_TIMEOUT) -> T:
    """Polls `probe` until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() > deadline:
            raise TimeoutError(f"lab: {what} not seen within {timeout} s")
        time.sleep(0.02)


def _tool(name: str) -> str:
    """A console script of the interpreter's environment (labgrid's and ours)."""
    path = Path(sys.executable).parent / name
    return str(path) if path.exists() else name


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return int(s.getsockname()[1])


def _accepts(port: int) -> bool:
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def marked_processes(mark: str) -> List[int]:
    """Ids of the processes whose start-up environment holds `VANTOR_LAB=mark`."""
    needle = f"VANTOR_LAB={mark}".encode() + b"\0"
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            environ = (entry / "environ").read_bytes()
        except OSError:  # gone, or not ours to read
            continue
        if needle in environ:
            found.append(int(entry.name))
    return found


def _signal_all(pids: Sequence[int], sig: int) -> None:
    for pid in pids:
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            pass


class SshdUnavailable(RuntimeError):
    """sshd is installed but ends at once on this machine."""


class Service:
    """A lab process in a process group of its own, output to a log file."""

    def __init__(self, name: str, argv: Sequence[str], cwd: Path, env: Dict[str, str]) -> None:
        self.name = name
        self.log = cwd / f"{name}.log"
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                list(argv), cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                stderr=subprocess.STDOUT, start_new_session=True)

    def output(self) -> str:
        return self.log.read_text(errors="replace")

    def check_running(self) -> None:
        if self.process.poll() is not None:
            raise RuntimeError(
                f"lab: {self.name} ended with status {self.process.returncode}:\n{self.output()}")

    def stop(self) -> None:
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
            except ProcessLookupError:
                self.process.wait()


def sshd_skip_reason() -> Optional[str]:
    """Why the lab's SSH server cannot run here, or None."""
    if not os.path.exists(SSHD):
        return f"{SSHD} is not installed (Debian package openssh-server; scripts/setup.sh installs it as root)"
    for tool in ("ssh", "rsync", "ssh-keygen"):
        if not any(os.access(os.path.join(d, tool), os.X_OK)
                   for d in os.environ.get("PATH", os.defpath).split(os.pathsep)):
            return f"{tool} is not installed (scripts/setup.sh installs openssh-server and rsync as root)"
    if os.geteuid() == 0 and not os.path.isdir("/run/sshd"):
        try:
            # The server's privilege separation folder, which the system's
            # service would create when it starts (it lives in /run, a
            # memory file system, and holds nothing).
            os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        except OSError as e:
            return f"sshd needs /run/sshd, which cannot be created: {e}"
    return None


class Lab:
    """SSH server, labgrid coordinator and (after `export`) an exporter."""

    def __init__(self, root: Path, monkeypatch: pytest.MonkeyPatch) -> None:
        self.root = root
        self.services: List[Service] = []
        self.env = dict(os.environ, VANTOR_LAB=str(root))
        self.coordinator = ""
        try:
            self._start_sshd()
            self._start_coordinator()
        except BaseException:
            self.close()
            raise
        # This process's own labgrid calls (and the ssh processes they start).
        for key in ("PATH", "VANTOR_LAB", "LG_COORDINATOR", "LG_AGENT_PREFIX"):
            monkeypatch.setenv(key, self.env[key])

    # ---- SSH server and client configuration

    def _start_sshd(self) -> None:
        root = self.root
        for key in ("host_key", "client_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(root / key)],
                           check=True)
        (root / "authorized_keys").write_text((root / "client_key.pub").read_text())
        (root / "known_hosts").write_text(f"{EXPORTER_HOST} {(root / 'host_key.pub').read_text()}")
        bin_dir = root / "bin"
        bin_dir.mkdir()
        session = bin_dir / "session"
        session_env = {key: os.environ[key] for key in SESSION_ENV if key in os.environ}
        session_env.update(
            PATH=os.pathsep.join([str(Path(sys.executable).parent), "/usr/local/bin", "/usr/bin", "/bin"]),
            VANTOR_LAB=str(root))
        session.write_text(
            "#!/bin/sh\n"
            + "".join(f"export {key}={shlex.quote(value)}\n" for key, value in session_env.items())
            # A client that sends VANTOR_LAB_PATH chooses the session's PATH.
            + 'export PATH="${VANTOR_LAB_PATH:-$PATH}"\n'
            + 'exec /bin/sh -c "$SSH_ORIGINAL_COMMAND"\n')
        session.chmod(0o755)
        ssh = bin_dir / "ssh"
        # The SSH programs run without a preloaded sanitizer runtime.
        ssh.write_text("#!/bin/sh\nunset LD_PRELOAD\n"
                       f"exec /usr/bin/ssh -F {shlex.quote(str(root / 'ssh_config'))} \"$@\"\n")
        ssh.chmod(0o755)
        self.env["PATH"] = os.pathsep.join([str(bin_dir), self.env.get("PATH", os.defpath)])
        # The agents copy themselves into this folder on the exporter host.
        self.env["LG_AGENT_PREFIX"] = str(root)
        for attempt in range(3):
            sshd = self._try_sshd(f"sshd-{attempt}", _free_port())
            if sshd.process.poll() is None:
                return
            # Most likely the port was taken between choosing and binding it.
        raise SshdUnavailable(f"sshd does not start here:\n{sshd.output()}")

    def _try_sshd(self, name: str, port: int) -> Service:
        """Starts sshd on `port`; returns it listening, or ended."""
        root = self.root
        (root / "sshd_config").write_text(
            f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {root / 'host_key'}\n"
            f"PidFile {root / 'sshd.pid'}\nAuthorizedKeysFile {root / 'authorized_keys'}\n"
            "PermitRootLogin prohibit-password\nStrictModes no\nUsePAM no\n"
            "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
            "PrintMotd no\nPrintLastLog no\nX11Forwarding no\n"
            f"ForceCommand {root / 'bin' / 'session'}\nAcceptEnv VANTOR_LAB_PATH\n")
        (root / "ssh_config").write_text(
            f"Host {EXPORTER_HOST}\n  HostName 127.0.0.1\n  Port {port}\n"
            f"  User {getpass.getuser()}\n  IdentityFile {root / 'client_key'}\n"
            "  IdentitiesOnly yes\n  BatchMode yes\n"
            f"  HostKeyAlias {EXPORTER_HOST}\n  UserKnownHostsFile {root / 'known_hosts'}\n"
            "  GlobalKnownHostsFile /dev/null\n  SendEnv VANTOR_LAB_PATH\n")
        sshd_env = {k: v for k, v in self.env.items() if k != "LD_PRELOAD"}
        sshd = Service(name, [SSHD, "-D", "-e", "-f", str(root / "sshd_config")], root, sshd_env)
        self.services.append(sshd)  # stopped by close(), also when this raises
        wait_for("sshd listening", lambda: sshd.process.poll() is not None or _accepts(port))
        return sshd

    # ---- labgrid coordinator and exporter

    def _start_coordinator(self) -> None:
        coordinator = Service("coordinator", [_tool("labgrid-coordinator"), "--listen", "127.0.0.1:0"],
                              self.root, self.env)
        self.services.append(coordinator)

        def listening() -> Optional[str]:
            coordinator.check_running()
            for line in coordinator.output().splitlines():
                if line.startswith("listening on "):
                    return line[len("listening on "):].strip()
            return None

        self.coordinator = wait_for("coordinator listening", listening)
        self.env["LG_COORDINATOR"] = self.coordinator

    def export(self, argv: Sequence[str], config: str, resource: str) -> None:
        """Starts the exporter `argv` with the resource configuration `config`
        (YAML) and waits until the coordinator lists `resource`
        ("group/class/name" under this exporter)."""
        path = self.root / "exporter.yaml"
        path.write_text(config)
        exporter = Service(
            "exporter",
            [*argv, "--coordinator", self.coordinator, "--name", EXPORTER_NAME,
             "--hostname", EXPORTER_HOST, str(path)],
            self.root, self.env)
        self.services.append(exporter)

        def listed() -> bool:
            exporter.check_running()
            return f"{EXPORTER_NAME}/{resource}" in self.client("resources").stdout

        wait_for(f"exported resource {resource}", listed)

    def client(self, *args: str) -> subprocess.CompletedProcess[str]:
        """Runs labgrid-client against the lab's coordinator."""
        result = subprocess.run([_tool("labgrid-client"), *args], env=self.env, capture_output=True,
                                text=True, timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"labgrid-client {' '.join(args)} failed:\n{result.stderr}")
        return result

    def close(self) -> None:
        for service in reversed(self.services):
            service.stop()
        # The server's per-connection processes, the sessions and the
        # detached ssh processes on the client side.
        _signal_all(marked_processes(str(self.root)), signal.SIGTERM)
        try:
            wait_for("marked processes ending", lambda: not marked_processes(str(self.root)), 5.0)
        except TimeoutError:
            _signal_all(marked_processes(str(self.root)), signal.SIGKILL)
