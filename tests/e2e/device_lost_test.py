"""The sound server goes away while a note is held, and comes back: the program says so once
and plays on by itself, without a restart, and without waiting for the box to be answered."""

import glob
import os
import struct
import time
import unittest

import harness

ERROR_CAPTION = 'エラー'
# Long enough for the boxes of every buffer the dead server sent back to have stacked up,
# had each of them one of its own.
BOXES_SETTLE = 2.0
# The program tries the server again once a second and starts with half a second of
# silence; this leaves room for a busy machine.
BACK_WITHIN = 5.0
# Once the server answers again, the sound is back within this.
RETURN_WITHIN = 2.0
WAV_HEADER_BYTES = 46


def sounding(samples):
    return harness.first_sound(samples) is not None


def error_boxes(session, program):
    """The program's visible error boxes, found by their exact caption: xdotool's own name
    pattern does not match Japanese reliably."""
    windows = session.run(['xdotool', 'search', '--onlyvisible', '--pid', str(program.pid),
                           '--name', '.'], check=False).stdout.split()
    return [window for window in windows
            if session.run(['xdotool', 'getwindowname', window],
                           check=False).stdout.strip() == ERROR_CAPTION]


def dismiss(session, program, window):
    """OK on the error box, and the keyboard back to the main window."""
    (box,) = error_boxes(session, program)
    session.run(['xdotool', 'windowfocus', '--sync', box])
    session.run(['xdotool', 'key', 'Return'])
    harness.wait_until(lambda: not error_boxes(session, program), 'the box to go')
    session.run(['xdotool', 'windowfocus', '--sync', window])


def finished_recording(home):
    """The samples of the one recording once its header is final and matches the file."""
    files = glob.glob(os.path.join(home, '*.wav'))
    if len(files) != 1:
        return None
    with open(files[0], 'rb') as f:
        data = f.read()
    if len(data) < WAV_HEADER_BYTES or data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        return None
    riff_size, = struct.unpack_from('<I', data, 4)
    data_size, = struct.unpack_from('<I', data, WAV_HEADER_BYTES - 4)
    if riff_size != len(data) - 8 or data_size != len(data) - WAV_HEADER_BYTES:
        return None
    return data[WAV_HEADER_BYTES:]


def recording_sounds(home):
    """Whether the one recording, still being written, has some sound yet."""
    files = glob.glob(os.path.join(home, '*.wav'))
    if len(files) != 1:
        return False
    with open(files[0], 'rb') as f:
        return sounding(f.read()[WAV_HEADER_BYTES:])


def sound_back_after(capture, since):
    """Seconds from since to the capture's first sound, once there is one (else None)."""
    if isinstance(capture, harness.Capture):
        first = harness.first_sound(capture.live_samples())
        return None if first is None else capture.time_of(first) - since
    first = harness.first_sound(b''.join(capture.pieces), width=4)
    return None if first is None else time.monotonic() - since


# (what, the servers, the program's options, the rate JACK comes back at)
BACK_WITH_THE_BOX_OPEN = [
    ('PulseAudio, low latency', dict(pulse=True), ['--latency=low'], None),
    ('PulseAudio, classic ring', dict(pulse=True), ['--latency=classic'], None),
    ('JACK back at the same rate', dict(jack=True), ['--audio=jack'], harness.RATE),
    ('JACK back at 44100 Hz', dict(jack=True), ['--audio=jack'], 44100),
]


class DeviceLostAndBack(unittest.TestCase):
    def test_the_sound_comes_back_while_the_box_waits(self):
        for what, servers, args, jack_rate in BACK_WITH_THE_BOX_OPEN:
            with self.subTest(what), harness.Session(x=True, **servers) as session:
                program, window, home = session.start_morvane(args=args)
                session.click(window, 'record')
                session.run(['xdotool', 'keydown', '52'])  # Z, held to the end
                harness.wait_until(lambda: recording_sounds(home), 'sound in the recording')
                server = session.server('jack' if jack_rate else 'pulse')
                server.process.kill()
                server.process.wait()
                harness.wait_until(lambda: error_boxes(session, program), 'an error box')
                if jack_rate:
                    server.rate = jack_rate
                server.start()
                back = time.monotonic()
                with (session.jack_capture('Morvane:out') if jack_rate else
                      session.capture()) as capture:
                    took = []
                    harness.wait_until(lambda: took.append(sound_back_after(capture, back)) or
                                       took[-1] is not None,
                                       'the sound to come back', timeout=BACK_WITHIN)
                    self.assertLessEqual(took[-1], RETURN_WITHIN)
                    self.assertEqual(len(error_boxes(session, program)), 1, 'one box, still open')
                    time.sleep(1.0)
                last_second = (capture.floats[-4 * harness.RATE:] if jack_rate else
                               capture.samples[-2 * harness.RATE:])
                self.assertIsNotNone(harness.first_sound(last_second, width=4 if jack_rate else 2),
                                     'the sound stopped again')
                self.assertIsNone(program.poll(), 'the program ended')

                dismiss(session, program, window)
                session.click(window, 'record')
                harness.wait_until(lambda: finished_recording(home) is not None,
                                   'a well-formed recording')
                self.assertTrue(sounding(finished_recording(home)[-harness.RATE:]),
                                'the recording has no sound from after the return')
                session.run(['xdotool', 'keyup', '52'])


    def test_one_box_for_the_loss_and_the_held_note_sounds_again(self):
        # What happens to the server: killed outright, or ended as a log-out would end it.
        for what, end in [('killed', lambda process: process.kill()),
                          ('terminated', lambda process: process.terminate())]:
            with self.subTest(what), harness.Session(x=True, pulse=True) as session:
                program, window, home = session.start_morvane()
                pulse = session.server('pulse')
                session.run(['xdotool', 'keydown', '52'])  # Z, held to the end
                with session.capture() as before:
                    before.wait_for_sound(harness.BLOCK)

                end(pulse.process)
                pulse.process.wait()
                harness.wait_until(lambda: error_boxes(session, program), 'an error box')
                time.sleep(BOXES_SETTLE)
                self.assertEqual(len(error_boxes(session, program)), 1, 'one box for one loss')

                # The panel still answers, and a recording without a device says so instead
                # of writing an empty file.
                dismiss(session, program, window)
                session.click(window, 'record')
                harness.wait_until(lambda: error_boxes(session, program), 'the recording box')
                self.assertEqual(glob.glob(os.path.join(home, '*.wav')), [])
                dismiss(session, program, window)

                pulse.start()  # in the same private directory, at the same address
                with session.capture() as after:
                    harness.wait_until(lambda: sounding(after.live_samples()),
                                       'sound once the server was back',
                                       timeout=BACK_WITHIN + harness.SOUND_LATENCY)
                    time.sleep(1.0)
                self.assertIsNone(program.poll(), 'the program ended')
                last_second = after.samples[-2 * harness.RATE:]
                self.assertTrue(sounding(last_second), 'the sound stopped again')
                session.run(['xdotool', 'keyup', '52'])


if __name__ == '__main__':
    unittest.main()
