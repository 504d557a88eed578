"""The sound holds without a gap where the old player starved: with the window's thread
stopped for half a second again and again, and with a five-note chord held for a minute
while every core is busy. The capture must equal the offline rendering from the onset to
the release.

A player that waited on the window would insert silence at every stall, so WindowBlocked
tries once more after an underrun: a lone hiccup of a loaded machine (a few milliseconds,
seen once on a build machine) does not repeat itself, a player fault does. BusyMachine
gets no second try.

BusyMachine takes over a minute; CTest runs it on its own, with the label soak:
    underrun_test.py WindowBlocked     # e2e
    underrun_test.py BusyMachine       # soak
"""

import os
import time
import unittest

import harness

Z, Z_KEY = '52', 1
# Z, C, B, M and the full stop, pressed at once: keys 1, 4, 8, 11 and 15.
CHORD = [('52', 1), ('54', 4), ('56', 8), ('58', 11), ('60', 15)]


def find_chord(session, keys, blocks, captured):
    """Finds the chord's rendering in the capture. Its key events reach the player together,
    but the player may take them in between two blocks: a rendering is tried for each place
    where the events may have been cut in two."""
    first_error = None
    for split in range(len(keys), 0, -1):
        score = ''.join('on %d\n' % key for key in keys[:split])
        if split < len(keys):
            score += 'render 1\n' + ''.join('on %d\n' % key for key in keys[split:])
        score += 'render %d\n' % (blocks - (split < len(keys)))
        try:
            return harness.find_reference(session.render(score), captured)
        except harness.Underrun:
            raise
        except harness.E2eError as error:
            first_error = first_error or error
    raise first_error


class WindowBlocked(unittest.TestCase):
    def test_a_held_note_outlasts_a_blocked_window(self):
        harness.allowing_an_underrun(self.hold_a_note)

    def hold_a_note(self):
        with harness.Session(x=True, pulse=True) as session:
            # The test hook: the window's thread sleeps 500 ms of every second.
            session.env['MORVANE_TEST_STALL_UI_MS'] = '500'
            program, window, home = session.start_morvane(args=['--latency=low'])
            with session.capture() as capture:
                session.run(['xdotool', 'keydown', Z])
                time.sleep(2.5)
                session.run(['xdotool', 'keyup', Z])
            self.assertIsNone(program.poll(), 'the program ended')
            # 1.6 s from the onset, a stall or two, before the release: the press and the
            # release may each wait out a stall.
            harness.find_reference(session.render('on %d\nrender 80\n' % Z_KEY), capture.samples)


class BusyMachine(unittest.TestCase):
    HOLD = 61.0
    COMPARED_BLOCKS = 3000  # 60 s

    def test_a_chord_held_for_a_minute_on_busy_cores(self):
        keys = [code for code, _ in CHORD]
        with harness.Session(x=True, pulse=True) as session:
            with harness.BusyCores(os.cpu_count()):
                program, window, home = session.start_morvane(args=['--latency=low'])
                with session.capture() as capture:
                    session.run(['xdotool', 'keydown', '--delay', '0', *keys])
                    time.sleep(self.HOLD)
                    session.run(['xdotool', 'keyup', '--delay', '0', *keys])
                self.assertIsNone(program.poll(), 'the program ended')
            find_chord(session, [key for _, key in CHORD], self.COMPARED_BLOCKS, capture.samples)


if __name__ == '__main__':
    unittest.main()
