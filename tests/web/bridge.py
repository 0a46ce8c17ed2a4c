"""The imager side of the browser tests.

SimulatedImagers runs qor-imager-sim with its control commands on standard
input, plugs and unplugs its imagers and reads back what each received.

Bridge is the WebSocket server that tests/web/serial_standin.js talks to: each
port the page opens becomes one connection, whose first message names the
imager and the line settings the page asked for. The bridge opens that
imager's pseudo-terminal as the updater's POSIX backend opens a tty (exclusive,
raw, at that rate), so that the simulator's rate model sees what a real
imager would, and then carries the bytes both ways as binary messages. When
the line goes (the imager unplugged or hung up) the bridge closes the socket
with code 4000, and the page sees the device lost.

Runs with Debian's /usr/bin/python3 and python3-websockets (10.4).
"""

import asyncio
import errno
import fcntl
import json
import os
import queue
import signal
import subprocess
import termios
import threading

import websockets

# The close code that tells the stand-in its device is gone.
LINE_LOST = 4000

# Starting a simulator or answering a command takes milliseconds; these only
# end a test whose simulator or bridge hangs.
ANSWER_TIMEOUT_S = 10


class SimulatedImagers:
    """One qor-imager-sim process serving `count` imagers in slots 0..count-1."""

    def __init__(self, program, count=1, options=()):
        self._process = subprocess.Popen(
            [program, "--count", str(count), "--control", "-", *options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self._lines = queue.Queue()
        self._commands = threading.Lock()
        threading.Thread(target=self._read_output, daemon=True).start()
        try:
            self.ports = [self._next_line() for _ in range(count)]
        except BaseException:
            self.stop()
            raise

    def _read_output(self):
        for line in self._process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def _next_line(self):
        try:
            line = self._lines.get(timeout=ANSWER_TIMEOUT_S)
        except queue.Empty:
            raise RuntimeError("qor-imager-sim did not answer") from None
        if line is None:
            raise RuntimeError(f"qor-imager-sim ended ({self._process.wait()})")
        return line

    def _command(self, line, expected):
        with self._commands:
            self._process.stdin.write(line + "\n")
            self._process.stdin.flush()
            answer = self._next_line()
        if not answer.startswith(expected + " "):
            raise RuntimeError(f"qor-imager-sim answered '{line}' with '{answer}'")
        return answer[len(expected) + 1:]

    def plug(self, slot):
        """Plugs a fresh imager into the slot; its port path."""
        port = self._command(f"plug {slot}", f"plugged {slot}")
        self.ports[slot] = port
        return port

    def unplug(self, slot):
        """Once this returns the imager's line has hung up."""
        self._command(f"unplug {slot}", "unplugged")

    def record(self, slot):
        """What the imager has received and sent so far (see formatRecordJson
        in tools/imager_sim/stats.h), with the byte strings as bytes."""
        record = json.loads(self._command(f"record {slot}", f"record {slot}"))
        for key in ("received", "sent"):
            record[key] = bytes.fromhex(record[key])
        for key in ("header", "image"):
            record["run"][key] = bytes.fromhex(record["run"][key])
        for packet in record["setup_packets"]:
            packet["bytes"] = bytes.fromhex(packet["bytes"])
        return record

    def stop(self):
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(timeout=ANSWER_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._process.stdin.close()
        self._process.stdout.close()


class Line:
    """The host's end of a simulated imager's line, set up as the updater's
    POSIX backend sets up a tty (serial/serial_port_posix.cpp)."""

    def __init__(self, path, settings):
        speed = getattr(termios, f"B{settings['baudRate']}", None)
        if speed is None:
            raise OSError(errno.EINVAL, f"no rate {settings['baudRate']} on a POSIX line")
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK | os.O_CLOEXEC)
        try:
            fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            fcntl.ioctl(self.fd, termios.TIOCEXCL)
            self._configure(speed, settings)
            try:
                fcntl.ioctl(self.fd, termios.TIOCMBIS,
                            (termios.TIOCM_DTR | termios.TIOCM_RTS).to_bytes(4, "little"))
            except OSError as error:
                # A pty has no modem lines; an imager needs none.
                if error.errno not in (errno.ENOTTY, errno.EINVAL):
                    raise
            termios.tcflush(self.fd, termios.TCIFLUSH)
        except BaseException:
            os.close(self.fd)
            raise

    def _configure(self, speed, settings):
        iflag, oflag, cflag, lflag, _, _, cc = termios.tcgetattr(self.fd)
        iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP
                   | termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON
                   | termios.IXOFF | termios.IXANY | termios.INPCK)
        oflag &= ~termios.OPOST
        lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG
                   | termios.IEXTEN)
        cflag &= ~(termios.CSIZE | termios.PARENB | termios.PARODD | termios.CSTOPB
                   | termios.CRTSCTS)
        cflag |= termios.CREAD | termios.CLOCAL
        cflag |= termios.CS7 if settings.get("dataBits") == 7 else termios.CS8
        if settings.get("stopBits") == 2:
            cflag |= termios.CSTOPB
        if settings.get("parity") in ("even", "odd"):
            cflag |= termios.PARENB | (termios.PARODD if settings["parity"] == "odd" else 0)
        if settings.get("flowControl") == "hardware":
            cflag |= termios.CRTSCTS
        cc[termios.VMIN] = 0
        cc[termios.VTIME] = 0
        termios.tcsetattr(self.fd, termios.TCSANOW,
                          [iflag, oflag, cflag, lflag, speed, speed, cc])
        # A driver that cannot do the rate keeps its old one and still
        # reports success: read it back.
        applied = termios.tcgetattr(self.fd)
        if applied[4] != speed or applied[5] != speed:
            raise OSError(errno.EINVAL, "the line kept another rate")

    def close(self):
        try:
            # The exclusive flag would outlive this open while the simulator
            # holds its own slave fd, and lock every later opener out.
            fcntl.ioctl(self.fd, termios.TIOCNXCL)
        except OSError:
            pass
        os.close(self.fd)


class Bridge:
    """The WebSocket server, on its own thread and event loop."""

    def __init__(self):
        self._paths = {}  # imager id -> its pty path, while plugged in
        self._sockets = {}  # imager id -> the open connection
        self._locks = {}
        self.port = None
        self._loop = asyncio.new_event_loop()
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        if not self._ready.wait(ANSWER_TIMEOUT_S) or self.port is None:
            self.stop()
            raise RuntimeError("the bridge did not start")

    @property
    def url(self):
        return f"ws://127.0.0.1:{self.port}"

    def _run(self):
        asyncio.set_event_loop(self._loop)
        try:
            server = self._loop.run_until_complete(
                websockets.serve(self._serve, "127.0.0.1", 0, max_size=None))
            self.port = server.sockets[0].getsockname()[1]
        finally:
            self._ready.set()
        if self.port is None:
            return
        self._loop.run_forever()
        server.close()
        self._loop.run_until_complete(server.wait_closed())
        self._loop.close()

    def _call(self, coroutine):
        return asyncio.run_coroutine_threadsafe(coroutine, self._loop).result(ANSWER_TIMEOUT_S)

    def attach(self, imager, path):
        """The imager is plugged in on `path`."""
        async def attach():
            self._paths[imager] = path
        self._call(attach())

    def detach(self, imager):
        """The imager is gone: its open line, if any, is closed as lost."""
        async def detach():
            self._paths.pop(imager, None)
            socket = self._sockets.get(imager)
            if socket is not None:
                await socket.close(LINE_LOST, "line lost")
        self._call(detach())

    def stop(self):
        if self._thread.is_alive():
            self._loop.call_soon_threadsafe(self._loop.stop)
            self._thread.join(ANSWER_TIMEOUT_S)

    async def _serve(self, socket):
        try:
            settings = json.loads(await socket.recv())
            imager = settings["imager"]
        except (ValueError, KeyError, TypeError, websockets.ConnectionClosed):
            await socket.close(1002, "expected the line settings first")
            return
        # One open at a time per imager: a page that closes a port and opens
        # it again at once (a rate scan) must find the line let go.
        async with self._locks.setdefault(imager, asyncio.Lock()):
            path = self._paths.get(imager)
            try:
                if path is None:
                    raise OSError(errno.ENODEV, "not plugged in")
                line = Line(path, settings)
            except OSError as error:
                await socket.send(json.dumps({"opened": False,
                                              "error": f"{imager}: {error.strerror}"}))
                return
            self._sockets[imager] = socket
            try:
                await socket.send(json.dumps({"opened": True}))
                await self._carry(socket, line)
            finally:
                del self._sockets[imager]
                line.close()

    async def _carry(self, socket, line):
        loop = asyncio.get_running_loop()
        incoming = asyncio.Queue()

        def readable():
            try:
                data = os.read(line.fd, 65536)
            except BlockingIOError:
                return
            except OSError:
                data = b""
            if not data:
                # The slave reads as end of file (or EIO) once the
                # simulator has hung up its side.
                loop.remove_reader(line.fd)
            incoming.put_nowait(data)

        async def to_page():
            while data := await incoming.get():
                await socket.send(data)
            await socket.close(LINE_LOST, "line lost")

        async def from_page():
            async for message in socket:
                if isinstance(message, bytes) and not await self._write(line.fd, message):
                    await socket.close(LINE_LOST, "line lost")
                    return

        loop.add_reader(line.fd, readable)
        tasks = [asyncio.ensure_future(to_page()), asyncio.ensure_future(from_page())]
        try:
            await asyncio.wait(tasks, return_when=asyncio.FIRST_COMPLETED)
        finally:
            loop.remove_reader(line.fd)
            for task in tasks:
                task.cancel()
            await asyncio.gather(*tasks, return_exceptions=True)

    @staticmethod
    async def _write(fd, data):
        """False when the line has gone."""
        loop = asyncio.get_running_loop()
        view = memoryview(data)
        while view:
            try:
                view = view[os.write(fd, view):]
            except BlockingIOError:
                writable = loop.create_future()
                loop.add_writer(fd, lambda: writable.done() or writable.set_result(None))
                try:
                    await writable
                finally:
                    loop.remove_writer(fd)
            except OSError:
                return False
        return True
