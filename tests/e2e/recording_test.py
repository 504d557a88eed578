"""A recording holds exactly what was played: the samples of the WAV file the record button
wrote are found bit for bit in what the sound server received, in either latency mode."""

import glob
import os
import struct
import time
import unittest

import harness

HEADER_BYTES = 46
MODES = ['--latency=low', '--latency=classic']


def finished_recording(home):
    """The samples of the program's one recording once its header is final, else None."""
    files = glob.glob(os.path.join(home, '*.wav'))
    if len(files) != 1:
        return None
    with open(files[0], 'rb') as f:
        data = f.read()
    if len(data) < HEADER_BYTES:
        return None
    riff_size, = struct.unpack_from('<I', data, 4)
    data_size, = struct.unpack_from('<I', data, HEADER_BYTES - 4)
    if riff_size != len(data) - 8 or data_size != len(data) - HEADER_BYTES:
        return None
    return data[HEADER_BYTES:]


class Recording(unittest.TestCase):
    def test_the_recording_is_what_was_played(self):
        for mode in MODES:
            with self.subTest(mode):
                harness.allowing_an_underrun(lambda: self.record(mode))

    def record(self, mode):
        with harness.Session(x=True, pulse=True) as session:
            program, window, home = session.start_morvane(args=[mode])
            with session.capture() as capture:
                # A click on the record button starts, another one stops.
                session.click(window, 'record')
                time.sleep(0.3)
                session.run(['xdotool', 'keydown', '52'])
                time.sleep(1.0)
                session.run(['xdotool', 'keyup', '52'])
                time.sleep(0.5)
                session.click(window, 'record')
                harness.wait_until(lambda: finished_recording(home) is not None, 'the recording')
            self.assertIsNone(program.poll(), 'the program ended')
            harness.find_reference(finished_recording(home), capture.samples)


if __name__ == '__main__':
    unittest.main()
