"""The sound holds without a gap where the old player starved: with the window's thread
stopped for half a second again and again, and with a five-note chord held for a minute
while every core is busy. The capture must equal the offline rendering from the onset to
the release.

A player that waited on the window would insert silence at every stall, so WindowBlocked
tries once more after an underrun: a lone hiccup of a loaded machine (a few milliseconds,
seen once on a build machine) does not repeat itself, a player fault does. BusyMachine
gets no second try.

BusyMachine takes over a minute, BusyMachineServers two; CTest runs them on their own,
with the label soak, and ./test -L soak prints the table of their gaps at the end:
    underrun_test.py WindowBlocked                          # e2e
    underrun_test.py BusyMachine                            # soak, PulseAudio
    underrun_test.py BusyMachineServers.test_on_pipewire    # soak, PipeWire
    underrun_test.py BusyMachineServers.test_on_jack        # soak, JACK
"""

import itertools
import os
import time
import unittest

import harness

Z, Z_KEY = '52', 1
# Z, C, B, M and the full stop, pressed at once: keys 1, 4, 8, 11 and 15.
CHORD = [('52', 1), ('54', 4), ('56', 8), ('58', 11), ('60', 15)]


# How far apart the chord's key events may reach the player, in blocks, on a loaded machine.
LONGEST_SPREAD = 2
# Enough of the chord to tell how its keys were spread.
PROBE_BLOCKS = 100


def chord_score(keys, spread, blocks):
    """The chord with each key after the first that many blocks after the one before it."""
    score = 'on %d\n' % keys[0]
    for wait, key in zip(spread, keys[1:]):
        score += ('render %d\n' % wait if wait else '') + 'on %d\n' % key
    return score + 'render %d\n' % (blocks - sum(spread))


def find_chord(session, keys, blocks, captured):
    """Finds the chord's rendering in the capture. Its key events reach the player together,
    but the player may take them in between two blocks, or a busy machine may hold some
    back a block or two: each spread is tried on the chord's start, fewest first, and the
    one found is compared whole."""
    spreads = sorted(itertools.product(range(LONGEST_SPREAD + 1), repeat=len(keys) - 1),
                     key=sum)
    for spread in spreads:
        try:
            harness.find_reference(session.render(chord_score(keys, spread, PROBE_BLOCKS)),
                                   captured)
        except harness.Underrun:
            pass  # the start matches; the whole comparison tells the gaps
        except harness.E2eError:
            continue
        return harness.find_reference(session.render(chord_score(keys, spread, blocks)),
                                      captured)
    raise harness.E2eError('the chord is not in the capture, however its keys were spread')


class WindowBlocked(unittest.TestCase):
    def test_a_held_note_outlasts_a_blocked_window(self):
        # Both modes render in the sound callback: a stall longer than the classic lead
        # must not be heard either.
        for mode in ['--latency=low', '--latency=classic']:
            with self.subTest(mode=mode):
                harness.allowing_an_underrun(lambda: self.hold_a_note(mode))

    def hold_a_note(self, mode):
        with harness.Session(x=True, pulse=True) as session:
            program, window, home = session.start_morvane(args=[mode])
            with session.capture() as capture:
                # The window's thread stands still for 500 ms of every second.
                with session.stall_window_thread(program, every=1.0, stall=0.5) as stalls:
                    session.run(['xdotool', 'keydown', Z])
                    time.sleep(2.5)
                    session.run(['xdotool', 'keyup', Z])
            self.assertGreaterEqual(stalls.stalls, 2)
            self.assertIsNone(program.poll(), 'the program ended')
            # Calls the stops cut short were taken up again: the window still answers.
            session.click(window, 'exit')
            self.assertEqual(program.wait(10), 0)
            # 1.6 s from the onset, a stall or two, before the release: the press and the
            # release may each wait out a stall.
            harness.find_reference(session.render('on %d\nrender 80\n' % Z_KEY), capture.samples)


class HeldChord:
    """A five-note chord held for a minute on a loaded machine, compared with its offline
    rendering; each run adds its gaps to the soak table."""
    HOLD = 61.0
    COMPARED_BLOCKS = 3000  # 60 s

    def hold_the_chord(self, session):
        keys = [code for code, _ in CHORD]
        session.run(['xdotool', 'keydown', '--delay', '0', *keys])
        time.sleep(self.HOLD)
        session.run(['xdotool', 'keyup', '--delay', '0', *keys])

    def count(self, output, load, session, capture, stalls, in_graph=False):
        """Records the run's gaps. On PulseAudio, whose sink plays on by the clock, a gap
        that began while a processor stood still is in the table but fails no run: a thread
        of the sound's path on it could not have played through it. In a graph (JACK,
        PipeWire) every gap counts, stall or not, as a graph's own thread may stand still
        with the recorder; a recorder that missed cycles of its own (on a loaded machine)
        says so, as the sound it lost was no gap of the program's."""
        started = capture.time_of(0)
        gaps, during_stalls, detail = 0, 0, stalls.summary(started) + '; '
        if in_graph and capture.missed_cycles:
            detail += 'the recorder missed %d cycle(s); ' % capture.missed_cycles
        try:
            find_chord(session, [key for _, key in CHORD], self.COMPARED_BLOCKS, capture.samples)
        except harness.Underrun as underrun:
            gaps = len(underrun.places)
            moments = [capture.time_of(place) for place in underrun.places]
            detail += 'gaps at %s s; ' % ', '.join('%.1f' % (m - started) for m in moments)
            if not in_graph:
                during_stalls = sum(map(stalls.during_one, moments))
                detail += '%d during stalls; ' % during_stalls
            detail += str(underrun)
        except harness.E2eError as error:
            harness.record_soak(output, load, -1, detail + str(error))
            raise
        harness.record_soak(output, load, gaps, detail)
        self.assertEqual(gaps - during_stalls, 0, detail)


class BusyMachine(HeldChord, unittest.TestCase):
    """PulseAudio through PortAudio, with every core spinning."""

    def test_a_chord_held_for_a_minute_on_busy_cores(self):
        with harness.Session(x=True, pulse=True) as session:
            with harness.BusyCores(os.cpu_count()), harness.ProcessorStalls() as stalls:
                program = session.start_morvane(args=['--latency=low'])[0]
                with session.capture() as capture:
                    self.hold_the_chord(session)
                self.assertIsNone(program.poll(), 'the program ended')
            self.count('PortAudio', 'busy cores', session, capture, stalls)


class BusyMachineServers(HeldChord, unittest.TestCase):
    """PipeWire, and a JACK server running real-time as a musician's does, with a C++
    compile at normal priority beside the spinning cores; the stream is recorded in the
    graph."""

    def test_on_pipewire(self):
        self.hold_on({'pipewire': True}, 'PipeWire', ['--audio=pipewire'],
                     'Morvane:output_MONO')

    def test_on_jack(self):
        harness.Jack.realtime = True
        self.hold_on({'jack': True}, 'JACK', ['--audio=jack'], 'Morvane:out')

    def hold_on(self, servers, output, args, port):
        with harness.Session(x=True, **servers) as session:
            with harness.BusyCores(os.cpu_count()), harness.BusyCompiler(), \
                    harness.ProcessorStalls() as stalls:
                program = session.start_morvane(args=['--latency=low', *args])[0]
                with session.jack_capture(port) as capture:
                    time.sleep(0.5)  # the recorder joins the stream
                    self.hold_the_chord(session)
                self.assertIsNone(program.poll(), 'the program ended')
            self.count(output, 'busy cores and a C++ compile', session, capture, stalls,
                       in_graph=True)


if __name__ == '__main__':
    unittest.main()
