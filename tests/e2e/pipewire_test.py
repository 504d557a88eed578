"""The program as a native PipeWire client, on a private PipeWire with a session manager: a
key and morvane-render --play arrive bit for bit at the graph's rate, resampled as for JACK at
another; a server that dies and comes back costs one message and brings the sound back, and
one that comes only after the program started brings the sound too."""

import os
import subprocess
import time
import unittest

import harness

PORT = 'Morvane:output_MONO'
# As in the play test: whole silent blocks first, so the recorder has joined the stream.
SCORE = 'render 10\non 4\non 8\non 11\nrender 50\noff 4\noff 8\noff 11\nrender 30\n'
COMPARED_BLOCKS = 30
ERROR_CAPTION = 'エラー'
BACK_WITHIN = 5.0


def error_boxes(session, program):
    windows = session.run(['xdotool', 'search', '--onlyvisible', '--pid', str(program.pid),
                           '--name', '.'], check=False).stdout.split()
    return [window for window in windows
            if session.run(['xdotool', 'getwindowname', window],
                           check=False).stdout.strip() == ERROR_CAPTION]


def dismiss(session, program, window):
    """OK on the one error box, and the keyboard back to the main window."""
    (box,) = error_boxes(session, program)
    session.run(['xdotool', 'windowfocus', '--sync', box])
    session.run(['xdotool', 'key', 'Return'])
    harness.wait_until(lambda: not error_boxes(session, program), 'the box to go')
    session.run(['xdotool', 'windowfocus', '--sync', window])


def sound_comes(capture, what):
    """Waits until the capture has caught some sound: BACK_WITHIN at most, and the time a
    capture goes on after its block."""
    harness.wait_until(lambda: harness.first_sound(b''.join(capture.pieces), width=4) is not None,
                       what, timeout=BACK_WITHIN + harness.SOUND_LATENCY)


def start_without_jack_layer(session):
    """The program loads JACK's own library, which finds no server: --audio=auto goes on
    to PipeWire, as on a desktop without a JACK server. The test's tools keep the layer."""
    library_path = session.env.pop('LD_LIBRARY_PATH', None)
    try:
        return session.start_morvane()
    finally:
        if library_path is not None:
            session.env['LD_LIBRARY_PATH'] = library_path


class NativePipeWire(unittest.TestCase):
    def test_played_score_is_its_offline_rendering(self):
        for rate in [harness.RATE, 48000]:
            with self.subTest(rate=rate):
                harness.allowing_an_underrun(lambda: self.play(rate))

    def play(self, rate):
        with harness.Session(pipewire=rate) as session:
            score = os.path.join(session.directory, 'chord.score')
            with open(score, 'w') as f:
                f.write(SCORE)
            reference, width = session.render(SCORE), 2
            if rate != harness.RATE:
                reference = subprocess.run([os.environ['MORVANE_RESAMPLE'], str(rate)],
                                           input=reference, capture_output=True,
                                           check=True).stdout
                width = 4
            with session.jack_capture(PORT) as capture:
                played = session.run([os.environ['MORVANE_RENDER'], '--audio=pipewire', '--play',
                                      score], check=False)
                if played.returncode == 0:
                    capture.wait_for_sound(len(reference) // width -
                                           harness.first_sound(reference, width))
            self.assertEqual(played.returncode, 0, played.stderr)
            capture.find(reference, width)

    def test_a_held_key_found_by_default_is_its_offline_rendering(self):
        harness.allowing_an_underrun(self.hold_a_key)

    def hold_a_key(self):
        with harness.Session(x=True, pipewire=True) as session:
            program, window, home = start_without_jack_layer(session)
            with session.jack_capture(PORT) as capture:
                harness.wait_until(capture.joined.is_set, 'the recorder to join the stream')
                session.run(['xdotool', 'keydown', '52'])
                capture.wait_for_sound(COMPARED_BLOCKS * harness.BLOCK)
                session.run(['xdotool', 'keyup', '52'])
            self.assertIsNone(program.poll(), 'the program ended')
            reference = session.render('on 1\nrender %d\n' % COMPARED_BLOCKS)
            capture.find(reference)

    def test_started_before_the_server_it_plays_once_the_server_comes(self):
        with harness.Session(x=True, pipewire=True) as session:
            server = session.server('pipewire')
            server.stop()
            program, window, home = start_without_jack_layer(session)
            harness.wait_until(lambda: error_boxes(session, program), 'an error box')
            dismiss(session, program, window)

            server.start()
            session.run(['xdotool', 'keydown', '52'])
            with session.jack_capture(PORT) as after:
                sound_comes(after, 'sound once the server had come')
            session.run(['xdotool', 'keyup', '52'])
            self.assertIsNone(program.poll(), 'the program ended')
            self.assertIsNotNone(harness.first_sound(after.samples),
                                 'no sound once the server had come')

    def test_server_killed_and_back_one_box_and_the_sound_returns(self):
        with harness.Session(x=True, pipewire=True) as session:
            program, window, home = start_without_jack_layer(session)
            server = session.server('pipewire')
            session.run(['xdotool', 'keydown', '52'])  # Z, held to the end
            server.process.kill()
            server.process.wait()
            harness.wait_until(lambda: error_boxes(session, program), 'an error box')
            time.sleep(2.0)
            self.assertEqual(len(error_boxes(session, program)), 1, 'one box for one loss')
            dismiss(session, program, window)

            server.stop()
            server.start()
            with session.jack_capture(PORT) as after:
                sound_comes(after, 'sound once the server was back')
            self.assertIsNone(program.poll(), 'the program ended')
            self.assertIsNotNone(harness.first_sound(after.samples),
                                 'no sound once the server was back')
            session.run(['xdotool', 'keyup', '52'])


if __name__ == '__main__':
    unittest.main()
