"""What every end-to-end test stands on: private servers, the real programs, the captured sound.

A test opens a Session naming the servers it needs: a virtual X display (Xvfb), a private
PulseAudio whose default sink is a 22050 Hz mono s16le null sink, and a JACK server on its
dummy backend. Each runs from a private directory inside the session's work directory, is
stopped by the PID it was started with, and is stopped when the session ends however the test
ended. Tests of one CTest run may therefore run side by side: nothing is shared between them.

Run as a program, this module starts the servers around one command:
    harness.py [--x] [--pulse] [--jack] -- COMMAND ARGS...
"""

import argparse
import ctypes
import errno
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from array import array

RATE = 22050
BLOCK = 441  # samples in a 20 ms block
SINK = 'e2e_sink'

# Generous waits: the machine running the tests may be busy with a build.
START_TIMEOUT = 20.0
STOP_TIMEOUT = 5.0
# From a key press to its first sample at the sink takes 50-80 ms; waiting longer costs little.
SOUND_LATENCY = 0.25

# The middles of what the tests click, in window coordinates. The flat buttons stand at
# x = 456, 57 by 25: record at y = 352, About at 376, exit at 400. The tuning group stands at
# (8, 280), its up-down at (57, 12) inside it, 32 by 16, the up arrow its right half.
WINDOW_POINTS = {
    'record': (456 + 28, 352 + 12),
    'about': (456 + 28, 376 + 12),
    'exit': (456 + 28, 400 + 12),
    'midi': (470 + 21, 424 + 12),
    'tuning up': (8 + 57 + 24, 280 + 12 + 8),
}


class E2eError(Exception):
    pass


class Underrun(E2eError):
    """The reference was found in the capture, exact but for silence inserted (and, after
    the silence, samples lost). places holds, where known, the sample of the capture at
    which each silence starts."""

    def __init__(self, text, places=()):
        super().__init__(text)
        self.places = list(places)


def sounding_for(samples, width=2):
    """How many samples there are from the first non-zero one to the end (0 for silence)."""
    first = len(samples) - len(samples.lstrip(b'\0'))
    return len(samples) // width - first // width if first < len(samples) else 0


def wait_until(ready, what, timeout=START_TIMEOUT):
    deadline = time.monotonic() + timeout
    while not ready():
        if time.monotonic() > deadline:
            raise E2eError('%s: not ready after %.0f s' % (what, timeout))
        time.sleep(0.05)


def stop_process(process):
    """Ends a process we started, by its PID: politely first, then for sure."""
    if process.poll() is not None:
        return process.returncode
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(STOP_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait()


class Server:
    """A server process of the session, with its own directory and log."""

    name = ''

    def __init__(self, session):
        self.session = session
        self.directory = os.path.join(session.directory, self.name)
        os.makedirs(self.directory, mode=0o700, exist_ok=True)
        self.process = None

    def spawn(self, args, env=None, **kwargs):
        log = open(os.path.join(self.directory, 'log'), 'ab')
        # A session of its own: a Ctrl+C meant for the test does not reach the server first.
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                        env=env or self.session.env, start_new_session=True,
                                        **kwargs)
        log.close()

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process is not None:
            stop_process(self.process)
            self.process = None

    def check_alive(self):
        if not self.running():
            raise E2eError('%s exited; its log is %s' % (self.name, os.path.join(self.directory, 'log')))


class Xvfb(Server):
    name = 'xvfb'

    def start(self):
        # -displayfd: the server picks a free display and tells us its number, so sessions
        # of parallel tests never fight over one.
        read_end, write_end = os.pipe()
        self.spawn(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24',
                    '-nolisten', 'tcp', '-noreset'], pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        self.check_alive()
        self.session.env['DISPLAY'] = ':' + number
        # xcb on this display, even where the caller asked Qt for offscreen.
        self.session.env['QT_QPA_PLATFORM'] = 'xcb'
        # A known layout and auto-repeat (660 ms, 25 Hz), so a held key repeats as on a desktop.
        self.session.run(['setxkbmap', '-model', 'pc105', '-layout', 'us'])
        self.session.run(['xset', 'r', 'on'])
        self.session.run(['xset', 'r', 'rate', '660', '25'])


class PulseAudio(Server):
    name = 'pulse'

    def start(self):
        runtime = os.path.join(self.session.runtime_directory, 'pulse')
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        config = os.path.join(self.directory, 'config')
        os.makedirs(config, exist_ok=True)
        client_conf = os.path.join(config, 'client.conf')
        with open(client_conf, 'w') as f:
            f.write('autospawn = no\n')  # a client never starts a daemon of its own
        with open(os.path.join(config, 'daemon.conf'), 'w') as f:
            f.write('flat-volumes = no\nexit-idle-time = -1\nenable-memfd = no\n'
                    'default-sample-format = s16le\ndefault-sample-rate = %d\n'
                    'alternate-sample-rate = %d\ndefault-sample-channels = 1\n'
                    'default-channel-map = mono\navoid-resampling = yes\n' % (RATE, RATE))
        script = os.path.join(config, 'default.pa')
        # The program's format everywhere and volumes at unity: the samples pass unchanged.
        # norewinds=1: a rewind when a stream joins or leaves would cut the start and the end
        # of a stream out of what the monitor has already delivered.
        with open(script, 'w') as f:
            f.write('load-module module-native-protocol-unix auth-anonymous=1\n'
                    'load-module module-null-sink sink_name=%s rate=%d channels=1 '
                    'channel_map=mono format=s16le norewinds=1\n'
                    'set-default-sink %s\nset-default-source %s.monitor\n'
                    'set-sink-volume %s 65536\nset-sink-mute %s 0\n'
                    % (SINK, RATE, SINK, SINK, SINK, SINK))
        env = self.session.env
        env.update(PULSE_SERVER='unix:' + os.path.join(runtime, 'native'),
                   PULSE_CLIENTCONFIG=client_conf,
                   PULSE_COOKIE=os.path.join(config, 'cookie'))
        daemon_env = dict(env, PULSE_RUNTIME_PATH=runtime, PULSE_STATE_PATH=self.directory,
                          PULSE_CONFIG=os.path.join(config, 'daemon.conf'),
                          XDG_CONFIG_HOME=config, HOME=self.directory)
        self.spawn(['pulseaudio', '-n', '-F', script, '--daemonize=no', '--exit-idle-time=-1',
                    '--use-pid-file=no', '--system=no', '--disallow-exit'], env=daemon_env)

        def answers():
            self.check_alive()
            return self.session.run(['pactl', 'info'], check=False).returncode == 0

        wait_until(answers, 'PulseAudio')
        # Check what was asked for, so a wrong set-up fails here and not as a wrong sample.
        info = self.session.run(['pactl', 'list', 'sinks']).stdout
        if ': s16le 1ch %dHz' % RATE not in info:
            raise E2eError('the null sink has not the program\'s format:\n' + info)
        if self.session.run(['pactl', 'get-default-sink']).stdout.strip() != SINK:
            raise E2eError('the null sink is not the default sink')


class Jack(Server):
    name = 'jack'

    # The soak test runs the server real-time, as a musician's is.
    realtime = False

    def __init__(self, session, rate=RATE):
        super().__init__(session)
        self.rate = rate
        self.server_name = 'morvane-e2e-%d-%d' % (os.getpid(), id(self))

    def start(self):
        server = self.server_name
        env = self.session.env
        # Clients of this session find this server, and none of them starts another.
        env.update(JACK_DEFAULT_SERVER=server, JACK_NO_START_SERVER='1',
                   JACK_NO_AUDIO_RESERVATION='1')
        # A period of 20 ms at any rate: one engine block at 22050 Hz.
        self.spawn(['jackd', '--realtime' if self.realtime else '--no-realtime', '-n', server,
                    '-d', 'dummy', '-r', str(self.rate), '-p', str(self.rate // 50)])

        def answers():
            self.check_alive()
            return self.session.run(['jack_wait', '--check', '--server', server],
                                    check=False).stdout.strip() == 'running'

        wait_until(answers, 'JACK')

    def stop(self):
        """A clean stop: the server ends on SIGTERM with status 0."""
        if self.process is None:
            return
        status = stop_process(self.process)
        self.process = None
        if status != 0:
            raise E2eError('jackd ended with status %d on SIGTERM' % status)


class PipeWire(Server):
    """PipeWire standing in for the JACK server, through its JACK layer: the session's JACK
    clients (the program and the test's own) load PipeWire's libjack, which CTest puts on
    LD_LIBRARY_PATH for these tests. It runs at the engine's rate with one block a cycle, as
    the JACK server does; no session manager is needed to run JACK clients and their links."""
    name = 'jack'
    server_name = 'pipewire-0'
    devices = ''
    # The smallest quantum a node may ask for; None fixes the quantum at 20 ms. The latency
    # test lets the program's stream ask for its own, as on a desktop.
    min_quantum = None

    def __init__(self, session, rate=RATE):
        super().__init__(session)
        self.rate = rate

    def start(self):
        env = self.session.env
        env.update(JACK_DEFAULT_SERVER=self.server_name, JACK_NO_START_SERVER='1',
                   PIPEWIRE_RUNTIME_DIR=self.session.runtime_directory)
        # The test's own JACK clients find the daemon by this process's environment.
        os.environ['PIPEWIRE_RUNTIME_DIR'] = self.session.runtime_directory
        # PipeWire rounds its cycle down to a power of two unless told otherwise: 256 frames.
        config = os.path.join(self.session.env['XDG_CONFIG_HOME'], 'pipewire', 'pipewire.conf.d')
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, 'morvane-e2e.conf'), 'w') as f:
            f.write('context.properties = {\n'
                    '    clock.power-of-two-quantum = false\n'
                    '    default.clock.rate = %d\n'
                    '    default.clock.allowed-rates = [ %d ]\n'
                    '    default.clock.quantum = %d\n'
                    '    default.clock.min-quantum = %d\n'
                    '    default.clock.max-quantum = %d\n'
                    '}\n' % (self.rate, self.rate, self.rate // 50,
                              self.min_quantum or self.rate // 50, self.rate // 50))
            f.write(self.devices)
        self.spawn(['pipewire'])

        def answers():
            self.check_alive()
            return (self.session.run(['jack_samplerate'], check=False).stdout.strip() ==
                    str(self.rate) and
                    self.session.run(['jack_bufsize'], check=False).stdout.strip() ==
                    str(self.rate // 50))

        wait_until(answers, "PipeWire's JACK layer at %d Hz" % self.rate)

    def stop(self):
        os.environ.pop('PIPEWIRE_RUNTIME_DIR', None)
        super().stop()


class NativePipeWire(PipeWire):
    """A PipeWire desktop in miniature, for native PipeWire clients: a session bus, PipeWire
    with its clock fixed as above and a null sink as its one device, and WirePlumber, which
    joins a new stream to that sink as a desktop's session manager does. Its JACK layer
    records any port, the program's stream "Morvane:output_MONO" among them."""
    name = 'pipewire'
    devices = ('context.objects = [\n'
               '    { factory = adapter args = {\n'
               '        factory.name = support.null-audio-sink\n'
               '        node.name = "%s" media.class = "Audio/Sink"\n'
               '        audio.position = [ MONO ] node.driver = true object.linger = true } }\n'
               ']\n' % SINK)

    def start(self):
        env = self.session.env
        bus = os.path.join(self.session.runtime_directory, 'bus')
        env['DBUS_SESSION_BUS_ADDRESS'] = 'unix:path=' + bus
        with open(os.path.join(self.directory, 'session-log'), 'ab') as log:
            self.helpers = [subprocess.Popen(['dbus-daemon', '--session', '--nofork',
                                              '--nopidfile', '--address=unix:path=' + bus],
                                             stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                             env=env, start_new_session=True)]
            wait_until(lambda: os.path.exists(bus), 'the session bus')
            super().start()
            self.helpers.append(subprocess.Popen(['wireplumber'], stdin=subprocess.DEVNULL,
                                                 stdout=log, stderr=log, env=env,
                                                 start_new_session=True))
        wait_until(lambda: SINK in self.session.run(['pw-metadata', '-n', 'default'],
                                                    check=False).stdout,
                   'WirePlumber to choose the null sink')

    def stop(self):
        super().stop()
        for helper in reversed(getattr(self, 'helpers', [])):
            stop_process(helper)
        self.helpers = []


def jack_server_kind():
    """The JACK server the session starts: jackd, or PipeWire when the test asks for it."""
    return PipeWire if os.environ.get('MORVANE_E2E_JACK') == 'pipewire' else Jack


class Session:
    """The servers and programs of one test, all ended on leaving the with-block."""

    def __init__(self, x=False, pulse=False, jack=False, pipewire=False):
        """jack is True for a JACK server at the engine's rate, or the rate it runs at;
        pipewire the same for a PipeWire server with a session manager."""
        base = os.environ.get('E2E_WORK_DIRECTORY') or None
        if base:
            os.makedirs(base, exist_ok=True)
        self.directory = tempfile.mkdtemp(prefix='e2e-', dir=base)
        # The sockets live apart, in the system's temporary directory: a socket's path may not
        # be longer than about 100 bytes, and a build tree can lie deep.
        self.runtime_directory = tempfile.mkdtemp(prefix='morvane-e2e-')
        # Nothing of the caller's desktop leaks in, and nothing is written outside the session.
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(('DISPLAY', 'WAYLAND', 'PULSE', 'PIPEWIRE', 'JACK', 'XDG_',
                                         'LC_', 'LANGUAGE'))}
        # The tests read the program's Japanese texts, which a C locale gives whatever the
        # caller's language; a test of the English texts sets LANG itself.
        self.env.update(LANG='C.UTF-8',
                        XDG_RUNTIME_DIR=self.runtime_directory,
                        XDG_CONFIG_HOME=os.path.join(self.directory, 'config'),
                        HOME=self.directory)
        self.wanted = [server for server, on in ((Xvfb, x), (PulseAudio, pulse),
                                                 (lambda s: jack_server_kind()(s, RATE if jack is True else jack),
                                                  jack),
                                                 (lambda s: NativePipeWire(
                                                     s, RATE if pipewire is True else pipewire),
                                                  pipewire)) if on]
        self.servers = {}
        self.programs = []
        self.captures = 0

    def __enter__(self):
        try:
            for make in self.wanted:
                server = make(self)
                self.servers[server.name] = server
                server.start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, kind, value, traceback):
        errors = []
        for program in self.programs:
            stop_process(program)
        for server in reversed(list(self.servers.values())):
            try:
                server.stop()
            except E2eError as error:
                errors.append(error)
        shutil.rmtree(self.runtime_directory, ignore_errors=True)
        if kind is None and not errors:
            shutil.rmtree(self.directory, ignore_errors=True)
        else:
            print('e2e: the session\'s files and server logs are kept in ' + self.directory,
                  file=sys.stderr)
        if errors and kind is None:
            raise errors[0]

    def server(self, name):
        return self.servers[name]

    def run(self, args, check=True, timeout=60, **kwargs):
        """Runs a short command in the session's environment; its output as text."""
        result = subprocess.run(args, env=self.env, capture_output=True, text=True,
                                timeout=timeout, **kwargs)
        if check and result.returncode != 0:
            raise E2eError('%s failed (%d): %s' % (' '.join(args), result.returncode,
                                                   result.stderr.strip()))
        return result

    def start(self, args, **kwargs):
        """Starts a program that the session ends (by its PID) if the test does not."""
        program = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, **kwargs)
        self.programs.append(program)
        return program

    # --- the synthesizer ---------------------------------------------------------------

    def start_morvane(self, settings=None, first_window='^Morvane$', args=()):
        """Starts the synthesizer with a settings file of its own and gives it the keyboard.

        The program keeps morvane.ini and its recordings beside its executable: a link to the
        binary in a fresh directory gives each test a clean one. settings is the text of the
        file to start with, or a function that makes something at its path (a directory, a
        FIFO, ...). first_window is the title of the window that takes the keyboard: the main
        window, or a message box shown before it. args go on the program's command line.
        Returns the process, that window's id and the directory, which also keeps what the
        program wrote to its standard output and error (in "output")."""
        home = tempfile.mkdtemp(prefix='morvane-', dir=self.directory)
        binary = os.path.join(home, 'morvane')
        try:
            os.link(os.environ['MORVANE'], binary)
        except OSError:
            shutil.copy2(os.environ['MORVANE'], binary)
        ini = os.path.join(home, 'morvane.ini')
        if callable(settings):
            settings(ini)
        elif settings is not None:
            with open(ini, 'w') as f:
                f.write(settings)
        with open(os.path.join(home, 'output'), 'wb') as output:
            program = self.start([binary, *args], stdout=output, stderr=output)
        window = self.wait_for_window(program, first_window)
        self.run(['xdotool', 'windowfocus', '--sync', window])
        return program, window, home

    def click(self, window, what):
        """A left click on one of WINDOW_POINTS of the window."""
        x, y = WINDOW_POINTS[what]
        self.run(['xdotool', 'mousemove', '--window', window, str(x), str(y), 'click', '1'])

    def wait_for_window(self, program, title):
        """The id of the program's visible window whose title matches; fails at once if the
        program ends first."""
        found = []

        def shown():
            if program.poll() is not None:
                raise E2eError('the program ended (status %d) before showing "%s"'
                               % (program.returncode, title))
            candidates = self.run(['xdotool', 'search', '--onlyvisible', '--pid',
                                   str(program.pid), '--name', title], check=False).stdout.split()
            # xdotool matches without case, and a message box is mapped for a moment under
            # the application's name "morvane" before it takes its own title.
            found[:] = [window for window in candidates
                        if re.search(title, self.run(['xdotool', 'getwindowname', window],
                                                     check=False).stdout.strip())]
            return bool(found)

        wait_until(shown, 'a window "%s"' % title)
        return found[0]

    def render(self, score, *options):
        """The offline rendering of a score: raw samples."""
        return subprocess.run([os.environ['MORVANE_RENDER'], *options, '-', '-'],
                              input=score.encode(), capture_output=True, check=True,
                              env=self.env, timeout=60).stdout

    def capture(self, latency_msec=20):
        return Capture(self, latency_msec)

    def jack_capture(self, port):
        return JackCapture(self, port)

    def stall_window_thread(self, program, every=1.0, stall=0.5):
        return WindowThreadStall(program.pid, every, stall)


class Capture:
    """Records the null sink's monitor while the with-block runs: raw s16le samples.

    The samples so far (live_samples) and when each of them was at the sink (time_of) are
    known while it records: the null sink plays at the pace of the system clock, so sample n
    was at the sink at t0 + n / RATE. No piece of the capture can reach us before its last
    sample was at the sink, so every piece's arrival bounds t0 from above, and the smallest
    bound is t0 but for the quickest delivery from the sink to us (under a millisecond on an
    idle machine)."""

    def __init__(self, session, latency_msec):
        self.session = session
        self.latency_msec = latency_msec
        session.captures += 1
        self.path = os.path.join(session.directory, 'capture-%d.raw' % session.captures)
        self.samples = b''
        self.data = bytearray()
        self.start_bound = float('inf')  # the smallest bound on t0 so far
        self.complete = False

    def __enter__(self):
        self.process = self.session.start(
            ['parec', '--device=%s.monitor' % SINK, '--rate=%d' % RATE, '--channels=1',
             '--format=s16le', '--raw', '--latency-msec=%d' % self.latency_msec],
            stdout=subprocess.PIPE)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()
        # parec connects within tens of milliseconds; the first bytes prove it records.
        wait_until(lambda: self.data or self.process.poll() is not None, 'the capture')
        if self.process.poll() is not None:
            raise E2eError('parec ended (status %d)' % self.process.returncode)
        return self

    def read(self):
        source = self.process.stdout.fileno()
        while piece := os.read(source, 65536):
            arrived = time.monotonic()
            self.data += piece
            self.start_bound = min(self.start_bound, arrived - len(self.data) // 2 / RATE)

    def __exit__(self, *exc):
        if not self.complete:
            time.sleep(SOUND_LATENCY)
        stop_process(self.process)
        self.reader.join()
        self.process.stdout.close()
        self.samples = bytes(self.data[:len(self.data) // 2 * 2])
        with open(self.path, 'wb') as f:
            f.write(self.samples)

    def live_samples(self, start=0):
        """The samples captured so far, from sample start on."""
        return bytes(self.data[start * 2:len(self.data) // 2 * 2])

    def wait_for_sound(self, samples):
        """Waits until the capture holds that many samples from its first sound on: where a
        test knows how much sound it compares, this waits just as long as needed, and the
        capture then ends without its closing wait for what may still be on its way."""
        wait_until(lambda: sounding_for(self.live_samples()) >= samples,
                   '%d samples of sound in the capture' % samples)
        self.complete = True

    def time_of(self, sample):
        """When the sample was at the sink, on the clock of time.monotonic()."""
        return self.start_bound + sample / RATE


class JackCapture:
    """Records a JACK output port (say "Morvane:out") while the with-block runs.

    The recorder is a client of the session's JACK server from the block's start and joins
    the port as soon as it appears: a program must play a few blocks of silence first.
    floats holds the port's samples as JACK gave them (native float32); samples the same as
    s16le, for a port that carries the engine's samples scaled by 1/32768."""

    def __init__(self, session, port):
        self.session = session
        self.port_name = port
        session.captures += 1
        self.path = os.path.join(session.directory, 'capture-%d.f32' % session.captures)
        self.pieces = []
        self.floats = b''

    def __enter__(self):
        import jack  # only the JACK tests need the module
        server = self.session.servers.get('jack') or self.session.server('pipewire')
        self.client = jack.Client('e2e-capture', no_start_server=True,
                                  servername=server.server_name)
        self.rate = self.client.samplerate
        self.last_cycle = None
        self.missed_cycles = 0
        self.frames = 0
        self.start_bound = float('inf')
        port = self.client.inports.register('in')

        @self.client.set_process_callback
        def process(frames):
            arrived = time.monotonic()
            self.pieces.append(bytes(port.get_buffer()))
            # A recorder slowed down by a busy machine may miss a cycle of its own.
            cycle = self.client.last_frame_time
            if self.last_cycle is not None and cycle - self.last_cycle > frames:
                self.missed_cycles += 1
            self.last_cycle = cycle
            # A cycle's samples reach the sink when the cycle starts, before this call.
            self.start_bound = min(self.start_bound, arrived - self.frames / self.rate)
            self.frames += frames

        self.client.activate()
        self.joined = threading.Event()
        self.leaving = threading.Event()
        self.joiner = threading.Thread(target=self.join, args=(port,), daemon=True)
        self.joiner.start()
        return self

    def join(self, port):
        import jack
        while not self.leaving.is_set():
            if self.client.get_ports(self.port_name):
                try:
                    self.client.connect(self.port_name, port)
                    self.joined.set()
                    return
                except jack.JackError:
                    pass  # its client is not active yet
            time.sleep(0.001)

    def __exit__(self, *exc):
        time.sleep(SOUND_LATENCY)
        self.leaving.set()
        self.joiner.join()
        self.client.deactivate()
        self.client.close()
        self.floats = b''.join(self.pieces)
        with open(self.path, 'wb') as f:
            f.write(self.floats)
        if exc[0] is None and not self.joined.is_set():
            raise E2eError('no port %s appeared' % self.port_name)

    def find(self, reference, width=2):
        """find_reference in this recording (width 2: the engine's samples, 4: the floats).
        Where the recorder itself missed a cycle, a difference is an Underrun of the test's
        own making, which allowing_an_underrun tries once more."""
        try:
            return find_reference(reference, self.samples if width == 2 else self.floats, width)
        except Underrun:
            raise
        except E2eError as error:
            if self.missed_cycles:
                raise Underrun('the recorder missed %d cycle(s): %s'
                               % (self.missed_cycles, error)) from error
            raise

    def live_floats(self, start=0):
        """The float32 samples recorded so far, from sample start on (from the client's
        start, before it joined the port as well)."""
        return b''.join(self.pieces[:])[start * 4:]

    def wait_for_sound(self, samples):
        """As Capture.wait_for_sound, in the port's samples; the recorder still leaves the
        graph a quarter second later, as it always has: one run in about twenty of the
        PipeWire test hung once it left at once after the player (cause not found)."""
        wait_until(lambda: sounding_for(self.live_floats(), 4) >= samples,
                   '%d samples of sound from %s' % (samples, self.port_name))

    def time_of(self, sample):
        """When the sample reached the sink, on the clock of time.monotonic(); as for
        Capture, every cycle's call bounds it, and the earliest bound is the closest."""
        return self.start_bound + sample / self.rate

    @property
    def samples(self):
        values = array('f', self.floats)
        scaled = array('h')
        for at, value in enumerate(values):
            sample = value * 32768
            if sample != int(sample) or not -32768 <= sample < 32768:
                raise E2eError('the sample at %d (%r) is not a 16-bit sample scaled by 1/32768'
                               % (at, value))
            scaled.append(int(sample))
        return scaled.tobytes()


class BusyCores:
    """Keeps cores busy while the with-block runs: one spinning process each, stopped by PID."""

    def __init__(self, count):
        self.count = count

    def __enter__(self):
        self.spinners = [subprocess.Popen([sys.executable, '-c', 'while True: pass'],
                                          stdin=subprocess.DEVNULL)
                         for _ in range(self.count)]
        return self

    def __exit__(self, *exc):
        for spinner in self.spinners:
            stop_process(spinner)


class ProcessorStalls:
    """Watches every processor while the with-block runs, from a real-time process pinned to
    each, above every sound server's and program's thread: a wake-up one of them gets later
    than THRESHOLD is a stall of its processor (a virtual machine's host holding back one of
    its virtual processors, say). A thread of the sound's path that was on it stood still
    too, and nothing could have played for it, however it buffered. Where the system refuses
    real-time scheduling nothing is known: realtime is False and no stall is seen."""

    PRIORITY = 90  # above PipeWire's data thread (88), JACK's and PulseAudio's
    THRESHOLD = 0.020
    PROBE = (
        'import os, sys, time\n'
        'os.sched_setaffinity(0, {int(sys.argv[1])})\n'
        'try:\n'
        '    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(%d))\n'
        '    print("realtime", flush=True)\n'
        'except OSError:\n'
        '    print("refused", flush=True)\n'
        'while True:\n'
        '    due = time.monotonic() + 0.002\n'
        '    time.sleep(0.002)\n'
        '    late = time.monotonic() - due\n'
        '    if late > %r:\n'
        '        print(sys.argv[1], due, late, flush=True)\n' % (PRIORITY, THRESHOLD))

    def __enter__(self):
        self.probes = [subprocess.Popen([sys.executable, '-c', self.PROBE, str(cpu)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        text=True)
                       for cpu in sorted(os.sched_getaffinity(0))]
        self.realtime = all([probe.stdout.readline().strip() == 'realtime'
                             for probe in self.probes])
        return self

    def __exit__(self, *exc):
        # Each stall as (its processor, when it began, how long), on the clock of
        # time.monotonic(), in the order they began.
        self.stalls = []
        for probe in self.probes:
            stop_process(probe)
            self.stalls += [(int(cpu), float(begun), float(length))
                            for cpu, begun, length in map(str.split, probe.stdout)]
            probe.stdout.close()
        self.stalls.sort(key=lambda stall: stall[1])

    def during_one(self, moment, margin=0.25):
        """Whether a moment (say, when a gap began at the sink) falls within a stall, give or
        take the margin: the sound queued before a stall plays on into it a little."""
        return any(begun - margin <= moment <= begun + length + margin
                   for _, begun, length in self.stalls)

    def summary(self, origin):
        """The stalls, each as its processor, its length and when it began, in seconds from
        origin."""
        if not self.realtime:
            return 'processor stalls unknown (no real-time scheduling)'
        return '%d processor stall(s)%s' % (
            len(self.stalls),
            ''.join('%s processor %d %.0f ms at %.1f s' % (',' if i else ':', cpu,
                                                           length * 1000, begun - origin)
                    for i, (cpu, begun, length) in enumerate(self.stalls)))


class BusyCompiler:
    """A C++ compile at normal priority, over and over while the with-block runs, as a
    developer's build beside the instrument: the compiler's processes come and go and
    take memory and the disk as well as the cores. Stopped by the PID of its loop, whose
    session holds the compiler too."""

    SOURCE = ('#include <map>\n#include <regex>\n#include <string>\n#include <vector>\n'
              'int main() { std::map<std::string, std::vector<std::regex>> m;'
              ' m["a"].emplace_back("a+b*"); return int(m.size()); }\n')

    def __enter__(self):
        self.loop = subprocess.Popen(
            ['sh', '-c', 'while :; do printf "%s" "$0" | g++ -O2 -x c++ - -o /dev/null; done',
             self.SOURCE], stdin=subprocess.DEVNULL, start_new_session=True)
        return self

    def __exit__(self, *exc):
        try:
            os.killpg(self.loop.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.loop.wait()


class WindowThreadStall:
    """Stops a program's main (window) thread for `stall` seconds of every `every` while the
    with-block runs, as a modal box, a heavy redraw or a slow disk would; its other threads,
    the sound callback's among them, run on. ptrace stops one thread, not the process: the
    main thread's id is the process id. A tracer is one thread, so a thread of ours seizes,
    stops, resumes and lets go. Inside the block, do not poll the program: a wait for it
    from this process could take the tracer's stops for the program's end."""

    PTRACE_CONT, PTRACE_DETACH, PTRACE_SEIZE, PTRACE_INTERRUPT = 7, 17, 0x4206, 0x4207
    PTRACE_EVENT_STOP = 128
    WALL = 0x40000000
    POLL = 0.01  # how soon a signal for the running thread is passed on

    _libc = ctypes.CDLL(None, use_errno=True)
    _libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
    _libc.ptrace.restype = ctypes.c_long

    def __init__(self, tid, every, stall):
        self.tid, self.every, self.stall = tid, every, stall
        self.done = threading.Event()
        self.seized = threading.Event()
        self.error = None
        self.stalls = 0

    def __enter__(self):
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()
        self.seized.wait()
        if self.error:
            self.thread.join()
            raise self.error
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join()
        if self.error and exc[0] is None:
            raise self.error

    def _ptrace(self, request, data=0):
        if self._libc.ptrace(request, self.tid, None, ctypes.c_void_p(data)) == -1:
            code = ctypes.get_errno()
            raise E2eError('ptrace %#x on thread %d: %s' % (request, self.tid,
                                                            os.strerror(code)))

    def _wait(self, options=0):
        """The thread's next stop, or None (with WNOHANG) if it has none to report. A signal
        that stopped it on its way is handed on, and the wait goes on."""
        while True:
            tid, status = os.waitpid(self.tid, options | self.WALL)
            if tid == 0:
                return None
            if not os.WIFSTOPPED(status):
                raise E2eError('the traced program ended (status %#x)' % status)
            event = status >> 16
            if event == self.PTRACE_EVENT_STOP:
                return status
            if event == 0:
                self._ptrace(self.PTRACE_CONT, os.WSTOPSIG(status))

    def _stop(self):
        self._ptrace(self.PTRACE_INTERRUPT)
        self._wait()

    def _run(self):
        try:
            self._ptrace(self.PTRACE_SEIZE)
        except E2eError as error:
            self.error = error
            self.seized.set()
            return
        self.seized.set()
        try:
            next_stall = time.monotonic() + self.every
            while not self.done.is_set():
                if time.monotonic() < next_stall:
                    self._wait(os.WNOHANG)
                    time.sleep(self.POLL)
                    continue
                self._stop()
                self.stalls += 1
                self.done.wait(self.stall)
                self._ptrace(self.PTRACE_CONT)
                next_stall += self.every
            self._stop()
            self._ptrace(self.PTRACE_DETACH)
        except (E2eError, ChildProcessError) as error:
            self.error = E2eError('stalling the window thread: %s' % error)


def record_soak(output, load, gaps, detail=''):
    """A row of the soak table, which ./test -L soak prints at the end; gaps below 0: the
    sound was not found at all; the table is the file MORVANE_SOAK_TABLE names."""
    path = os.environ.get('MORVANE_SOAK_TABLE')
    if not path:
        return
    with open(path, 'a') as table:
        verdict = '%3d gap(s)' % gaps if gaps >= 0 else 'not found'
        table.write('%-10s %-30s %-10s %s\n' % (output, load, verdict, detail[:400]))


def first_sound(samples, width=2):
    """Index of the first non-zero sample, or None for silence. width is a sample's size in
    bytes: 2 for s16le, 4 for JACK's float32 (where silence is +0.0, all bits zero)."""
    for i in range(0, len(samples) - width + 1, width):
        if any(samples[i:i + width]):
            return i // width
    return None


def find_reference(reference, captured, width=2):
    """Where the reference sits bit for bit in the capture (in samples); raises otherwise.

    The reference is anchored on its first sounding samples; what comes before them in the
    reference (silence) must be in the capture as well. Silence inserted into the reference,
    after which it goes on unchanged, raises Underrun."""
    lead = first_sound(reference, width)
    if lead is None:
        raise E2eError('the reference is silent')
    probe = reference[lead * width:lead * width + 32 * width]
    at = captured.find(probe)
    while at >= 0 and at % width:
        at = captured.find(probe, at + 1)
    if at < 0 or at // width < lead:
        raise E2eError('the reference is not in the capture (first sound of the capture at '
                       'sample %s of %d)' % (first_sound(captured, width), len(captured) // width))
    offset = at // width - lead
    zero = bytes(width)
    r, c, gaps, places = 0, offset * width, [], []
    while True:
        same = _same_bytes(reference, r, captured, c, width)
        r, c = r + same, c + same
        if r >= len(reference):
            break
        silence = c
        while captured[c:c + width] == zero:
            c += width
        if c == silence or captured[c:c + width] != reference[r:r + width]:
            where = ('the capture from sample %d differs from the reference at its sample %d of %d'
                     % (offset, r // width, len(reference) // width))
            if not gaps:
                raise E2eError(where)
            # A stream that underran badly may lose samples after the silence as well (seen
            # on a machine with every core loaded); the samples before were exact.
            raise Underrun('%s, after silence was inserted at %d places (%s)'
                           % (where, len(gaps), ', '.join(gaps[:3])), places)
        gaps.append('%d samples at sample %d' % ((c - silence) // width, r // width))
        places.append(silence // width)
    if gaps:
        raise Underrun('the capture from sample %d is the reference with silence inserted: %s'
                       % (offset, ', '.join(gaps)), places)
    return offset


def _same_bytes(a, a_start, b, b_start, width):
    """How many bytes (whole samples) a and b have in common from the given starts."""
    length = min(len(a) - a_start, len(b) - b_start) // width * width
    if a[a_start:a_start + length] == b[b_start:b_start + length]:
        return length
    return next(i for i in range(0, length, width)
                if a[a_start + i:a_start + i + width] != b[b_start + i:b_start + i + width])


def allowing_an_underrun(attempt):
    """Runs attempt once more if its capture showed an underrun. A machine too busy to feed
    the sound device in time inserts silence; that says nothing about the samples, but a second
    underrun in a row fails the test."""
    try:
        return attempt()
    except Underrun as underrun:
        print('e2e: %s; trying once more' % underrun, file=sys.stderr)
        return attempt()


def main(argv):
    parser = argparse.ArgumentParser(description='Runs a command beside private test servers.')
    for name in ('x', 'pulse', 'jack'):
        parser.add_argument('--' + name, action='store_true')
    parser.add_argument('command', nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ['--'] else args.command
    if not command:
        parser.error('no command')
    with Session(x=args.x, pulse=args.pulse, jack=args.jack) as session:
        status = subprocess.run(command, env=session.env).returncode
        if status != 0:
            raise SystemExit(status)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
