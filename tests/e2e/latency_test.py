"""Key-to-sound in both latency modes and on PipeWire, measured in one run: how long from a
key pressed through XTEST to the note's first non-zero sample at the sound server.

For each mode the real program runs on a virtual display beside a private PulseAudio with a
22050 Hz null sink, or (pipewire) a private PipeWire at 22050 Hz whose quantum the stream
chooses, and a person presses a different key each time, waiting for silence in between, so
that every note starts from quiet and its first non-zero sample is its onset.

One clock for both ends, the system's monotonic clock:
- A press is timed by the X server: the key event's timestamp, which xev reads from the
  window, is the server's monotonic clock in milliseconds (checked on every press against
  the moments xdotool started and returned).
- A sample is timed by the capture's clock (harness.Capture): when it was at the sink, to
  within the sink's mixing period, which the capture's requested latency (CAPTURE_MSEC)
  keeps short, and the quickest delivery from the sink to us. On PipeWire the recorder is a
  node of the graph (harness.JackCapture), called in the cycle that hands the sample to the
  sink: to within the quickest wake-up of a cycle.
The attack is at its quickest: a note's first non-zero sample comes within five samples
(a quarter of a millisecond) of the start of the block that carries it.

Prints the median, minimum and maximum per mode and exits with a failure only when a press
made no sound: the times themselves depend on the machine and are for people to read.

    MORVANE=build/ui/morvane python3 tests/e2e/latency_test.py [--presses N]
"""

import argparse
import re
import statistics
import subprocess
import sys
import threading
import time

import harness

MODES = ['low', 'classic', 'pipewire']
# Fresh notes, a new key each time: Z to / on the lower row, then Q, W, E, R, T.
KEYS = [str(code) for code in range(52, 62)] + [str(code) for code in range(24, 29)]
# The quickest onset and end the panel allows: the first sample of a note sounds, and the
# next press need not wait long for quiet.
SETTINGS = '[PRESET0]\nENV_ATTACK=0\nENV_RELEASE=0\n'
# Silence this long at the sink before a press: the last note has died away.
QUIET = 0.3
SOUND_TIMEOUT = 2.0
QUIET_TIMEOUT = 10.0
# After the stream starts; classic mode first plays its primed silent buffers (520 ms).
SETTLE = 1.5
HOLD = 0.15
# The capture's latency: the null sink mixes in periods about this long.
CAPTURE_MSEC = 5


class KeyTimes:
    """The X server's timestamps of the key presses that reach a window, read by xev."""

    def __init__(self, session, window):
        self.process = session.start(['xev', '-id', window, '-event', 'keyboard'],
                                     stdout=subprocess.PIPE, text=True)
        self.presses = []  # (keycode, server time in ms)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        pressing = False
        for line in self.process.stdout:
            if line.startswith('KeyPress event'):
                pressing = True
            elif pressing and (time_field := re.search(r'\btime (\d+)', line)):
                stamp = int(time_field.group(1))
            elif pressing and (code := re.search(r'\bkeycode (\d+)', line)):
                self.presses.append((code.group(1), stamp))
                pressing = False

    def press(self, session, key):
        """Presses the key; when the X server made the event, on time.monotonic()'s clock."""
        count = len(self.presses)
        before = time.monotonic()
        session.run(['xdotool', 'keydown', key])
        after = time.monotonic()
        wait_for(lambda: len(self.presses) > count, 'no key event for key %s' % key, SOUND_TIMEOUT)
        code, stamp = self.presses[count]
        # Milliseconds on a 32-bit counter; the event lies between before and after.
        since = ((round(after * 1000) - stamp) % 2**32) / 1000
        pressed = after - since
        if code != key or not before - 0.002 <= pressed <= after:
            raise harness.E2eError('the key event (key %s at %d ms) is not on the monotonic clock '
                                   'between %.3f and %.3f s' % (code, stamp, before, after))
        return pressed


def wait_for(condition, what, timeout):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise harness.E2eError(what)
        time.sleep(0.005)


class Recorded:
    """What a capture holds so far: the sink's s16le samples (PulseAudio), or the stream's
    float32 samples in the graph (PipeWire)."""

    def __init__(self, capture):
        self.capture = capture
        self.width = 4 if isinstance(capture, harness.JackCapture) else 2

    def live(self, start=0):
        if self.width == 4:
            return self.capture.live_floats(start)
        return self.capture.live_samples(start)

    def length(self):
        return len(self.live()) // self.width


def sounds_after(recorded, start):
    """The index of the first non-zero sample from start on, or None."""
    found = harness.first_sound(recorded.live(start), recorded.width)
    return None if found is None else start + found


def quiet(recorded):
    length = int(QUIET * harness.RATE)
    tail = recorded.live(max(0, recorded.length() - length))
    return len(tail) == length * recorded.width and not any(tail)


# What each measured setup plays through: the program's options, the servers, and where the
# sound is caught.
SETUPS = {
    'low': (['--latency=low'], {'pulse': True}, None),
    'classic': (['--latency=classic'], {'pulse': True}, None),
    # The stream asks for its own quantum, as on a desktop: the server allows down to 32
    # frames here.
    'pipewire': (['--latency=low', '--audio=pipewire'], {'pipewire': True},
                 'Morvane:output_MONO'),
}


def measure(mode, presses):
    """Key-to-sound of each press, in seconds."""
    args, servers, port = SETUPS[mode]
    harness.NativePipeWire.min_quantum = 32
    with harness.Session(x=True, **servers) as session:
        capture = session.jack_capture(port) if port else session.capture(CAPTURE_MSEC)
        with capture:
            recorded = Recorded(capture)
            program, window, home = session.start_morvane(SETTINGS, args=args)
            keys = KeyTimes(session, window)
            time.sleep(SETTLE)
            timed = []
            for key in KEYS[:presses]:
                wait_for(lambda: quiet(recorded), 'no silence before a press', QUIET_TIMEOUT)
                # The new note cannot be in what the sink has already played.
                start = recorded.length()
                pressed = keys.press(session, key)
                wait_for(lambda: sounds_after(recorded, start) is not None,
                         'key %s (in %s mode) made no sound' % (key, mode), SOUND_TIMEOUT)
                time.sleep(HOLD)
                session.run(['xdotool', 'keyup', key])
                timed.append((pressed, sounds_after(recorded, start)))
            if program.poll() is not None:
                raise harness.E2eError('the program ended in %s mode' % mode)
        # The clock is read after the capture: every piece of it narrows the bound.
        return [capture.time_of(onset) - pressed for pressed, onset in timed]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--presses', type=int, default=len(KEYS), choices=range(1, len(KEYS) + 1),
                        metavar='N', help='presses per mode (at most %d)' % len(KEYS))
    presses = parser.parse_args(argv).presses
    for mode in MODES:
        ms = [1000 * t for t in measure(mode, presses)]
        print('%-8s key-to-sound over %d presses: median %.1f ms, min %.1f ms, max %.1f ms'
              % (mode, presses, statistics.median(ms), min(ms), max(ms)), flush=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
