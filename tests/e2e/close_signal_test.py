"""A close signal (log-out, kill, Ctrl+C in a terminal) ends the program as its exit button
does: the recording running is finished with a header that gives its exact sizes, and the
tuning changed on the panel is in the settings file. Where the tuning cannot be saved, the
close waits for nobody: the message goes to standard error."""

import glob
import os
import signal
import struct
import time
import unittest

import harness

HEADER = 46  # bytes before a recording's samples


def recorded_sound(home):
    """Whether the one recording has some sound on the disk yet."""
    recordings = glob.glob(os.path.join(home, '*.wav'))
    if len(recordings) != 1:
        return False
    with open(recordings[0], 'rb') as f:
        return harness.first_sound(f.read()[HEADER:]) is not None


# The signals sent, one after the other; a second one arrives while the close drains. And
# whether the settings path has become a directory, where the tuning cannot be saved.
SIGNALS = [
    ('SIGTERM', [signal.SIGTERM], False),
    ('SIGINT', [signal.SIGINT], False),
    ('SIGHUP', [signal.SIGHUP], False),
    ('SIGTERM, then SIGINT while closing', [signal.SIGTERM, signal.SIGINT], False),
    ('SIGTERM with a settings path that cannot be written', [signal.SIGTERM], True),
]


class CloseSignal(unittest.TestCase):
    def test_a_signal_closes_as_the_exit_button(self):
        for what, signals, unwritable in SIGNALS:
            with self.subTest(what), harness.Session(x=True, pulse=True) as session:
                program, window, home = session.start_morvane()
                for what in ('tuning up', 'record'):
                    session.click(window, what)
                session.run(['xdotool', 'keydown', '52'])  # Z: something to record
                settings = os.path.join(home, 'morvane.ini')
                if unwritable:
                    if os.path.exists(settings):
                        os.remove(settings)
                    os.mkdir(settings)
                harness.wait_until(lambda: recorded_sound(home), 'sound in the recording')
                for number in signals:
                    os.kill(program.pid, number)
                    time.sleep(0.01)
                self.assertEqual(program.wait(10), 0)

                recordings = glob.glob(os.path.join(home, '*.wav'))
                self.assertEqual(len(recordings), 1)
                with open(recordings[0], 'rb') as f:
                    wav = f.read()
                self.assertGreater(len(wav), HEADER)
                self.assertEqual(struct.unpack_from('<I', wav, 4)[0], len(wav) - 8)
                self.assertEqual(struct.unpack_from('<I', wav, 42)[0], len(wav) - HEADER)
                if unwritable:
                    with open(os.path.join(home, 'output')) as f:
                        self.assertIn(settings, f.read())
                    continue
                with open(settings) as f:
                    self.assertIn('TUNING=4402', f.read())


if __name__ == '__main__':
    unittest.main()
