"""morvane-render --play: the sound device receives exactly the samples of the offline render,
in either latency mode, through PortAudio or as a JACK client, at the engine's rate or
resampled to the JACK server's."""

import contextlib
import os
import subprocess
import threading
import time
import unittest

import harness

# A chord held and released into the echo: every stage of the engine, and a tail to the end.
# It starts with silent blocks, whole ones, so that a JACK recorder has joined the player's
# port before the sound comes, and a resampler meets the sound in the phase it has at start.
SCORE = '''render 10
param ECHO_DEPTH 60
param ECHO_TIME 150
on 4
on 8
on 11
render 50
off 4
off 8
off 11
render 30
'''

# What plays, the servers it plays beside, and where the sound is caught: the sound server,
# or JACK (None: the sound server; else the JACK server's rate).
SETUPS = [
    ('low latency', ['--latency=low'], None),
    ('classic latency', ['--latency=classic'], None),
    # Told to use PortAudio, the player finds the JACK server and still plays on the
    # default output.
    ('PortAudio beside a JACK server', ['--audio=portaudio'], 'beside'),
    ('JACK at the engine\'s rate', ['--audio=jack'], harness.RATE),
    ('JACK found by default, as a JACK server runs', [], harness.RATE),
    ('JACK at 48000 Hz, resampled', ['--audio=jack'], 48000),
]


class NoteStorm:
    """A JACK client that, while the with-block runs, joins every MIDI input of a client
    named Morvane it finds and sends it a chord of note-ons every period: a score player
    must open no such input, and so play the score alone. ports lists the inputs found."""

    def __init__(self, session):
        self.session = session
        self.ports = set()

    def __enter__(self):
        import jack  # only the JACK setups need the module
        self.client = jack.Client('e2e-note-storm', no_start_server=True,
                                  servername=self.session.server('jack').server_name)
        out = self.client.midi_outports.register('out')

        @self.client.set_process_callback
        def process(frames):
            out.clear_buffer()
            for note in (40, 47, 52, 59):
                out.write_midi_event(0, bytes([0x90, note, 127]))

        self.client.activate()
        self.leaving = threading.Event()
        self.joiner = threading.Thread(target=self.join, args=(out,), daemon=True)
        self.joiner.start()
        return self

    def join(self, out):
        import jack
        while not self.leaving.is_set():
            for port in self.client.get_ports('Morvane:', is_midi=True, is_input=True):
                if port.name not in self.ports:
                    try:
                        self.client.connect(out, port)
                        self.ports.add(port.name)
                    except jack.JackError:
                        pass  # its client is not active yet
            time.sleep(0.001)

    def __exit__(self, *exc):
        self.leaving.set()
        self.joiner.join()
        self.client.deactivate()
        self.client.close()


class Play(unittest.TestCase):
    def test_the_played_score_is_its_offline_rendering(self):
        for what, options, jack in SETUPS:
            with self.subTest(what):
                harness.allowing_an_underrun(lambda: self.play(options, jack))

    def play(self, options, jack):
        on_jack = isinstance(jack, int)
        with harness.Session(pulse=not on_jack, jack=harness.RATE if jack == 'beside' else jack) \
                as session:
            score = os.path.join(session.directory, 'chord.score')
            with open(score, 'w') as f:
                f.write(SCORE)
            reference, width = session.render(SCORE), 2
            if on_jack and jack != harness.RATE:
                reference = subprocess.run([os.environ['MORVANE_RESAMPLE'], str(jack)],
                                           input=reference, capture_output=True,
                                           check=True).stdout
                width = 4
            capture = session.jack_capture('Morvane:out') if on_jack else session.capture()
            with capture, NoteStorm(session) if jack else contextlib.nullcontext() as storm:
                played = session.run([os.environ['MORVANE_RENDER'], *options, '--play', score],
                                     check=False)
                if played.returncode == 0:
                    capture.wait_for_sound(len(reference) // width -
                                           harness.first_sound(reference, width))
            self.assertEqual(played.returncode, 0, played.stderr)
            if storm:
                self.assertEqual(storm.ports, set(), 'the score player took MIDI')
            if on_jack:
                # A cycle the recorder itself missed on a busy machine counts as an underrun.
                capture.find(reference, width)
            else:
                harness.find_reference(reference, capture.samples)
            if jack:
                # The JACK server outlived the player, and stops cleanly by its PID.
                session.server('jack').check_alive()
                session.server('jack').stop()


if __name__ == '__main__':
    unittest.main()
