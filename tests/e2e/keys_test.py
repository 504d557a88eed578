"""A person plays the synthesizer: a key or an on-screen key held, the sound bit for bit.

Each press runs in a freshly started program, in either latency mode, so the engine starts
from the very state the offline renderer starts from, and the captured note must equal its
offline rendering. The display and the sound server are started once per mode and serve
every press of it."""

import os
import time
import unittest

import harness

# The part compared: 600 ms from the first sample, all at the sink before the release.
COMPARED_BLOCKS = 30
# Held past the auto-repeat delay (660 ms), so that repeats of the held key arrive as well.
HOLD = 0.8

Z_DOWN, Z_UP = ['keydown', '52'], ['keyup', '52']
F2 = ['key', '68']
# A tuning and two presets the program must take from its own settings file.
SETTINGS = ('[SETUP]\nTUNING=4520\n[PRESET0]\nWAVE1_TYPE=2\nVCF_CUTOFF=40\n'
            '[PRESET1]\nWAVE1_TYPE=1\nVCF_CUTOFF=70\nVCF_RESONANCE=80\n')

# What the person does, the instrument key (0..40) it must sound, and the settings file the
# program starts with (None: a fresh installation) with the preset then sounding. Keys are
# sent as X keycodes: the instrument reads positions, whatever the layout. {window} is the
# window id.
PRESSES = [
    ('Z, lowest white key', Z_DOWN, Z_UP, 1, None, 0),
    ('1, upper row black key', ['keydown', '10'], ['keyup', '10'], 20, None, 0),
    ('[, highest key', ['keydown', '35'], ['keyup', '35'], 40, None, 0),
    ('click on the on-screen Z', ['mousemove', '--window', '{window}', '40', '450', 'mousedown', '1'],
     ['mouseup', '1'], 1, None, 0),
    ('Z with the tuning and first preset of the settings file', Z_DOWN, Z_UP, 1, SETTINGS, 0),
    ('F2 for the second preset, then Z', F2 + Z_DOWN, Z_UP, 1, SETTINGS, 1),
]


MODES = ['--latency=low', '--latency=classic']


class HeldNote(unittest.TestCase):
    def test_the_held_note_is_its_offline_rendering(self):
        for mode in MODES:
            with harness.Session(x=True, pulse=True) as session:
                for what, press, release, key, settings, preset in PRESSES:
                    with self.subTest(what, mode=mode):
                        harness.allowing_an_underrun(
                            lambda: self.play(session, mode, press, release, key, settings, preset))

    def play(self, session, mode, press, release, key, settings, preset):
        program, window, home = session.start_morvane(settings, args=[mode])
        try:
            with session.capture() as capture:
                pressed = time.monotonic()
                session.run(['xdotool'] + [a.format(window=window) for a in press])
                capture.wait_for_sound(COMPARED_BLOCKS * harness.BLOCK)
                time.sleep(max(0.0, pressed + HOLD - time.monotonic()))
                session.run(['xdotool'] + release)
            self.assertIsNone(program.poll(), 'the program ended')
            ini = os.path.join(home, 'morvane.ini')
            options = ['--ini', ini, '--preset', str(preset)] if settings else []
            reference = session.render('on %d\nrender %d\n' % (key, COMPARED_BLOCKS), *options)
        finally:
            # The next press starts a fresh program: this one leaves the sink to it.
            harness.stop_process(program)
        harness.find_reference(reference, capture.samples)


if __name__ == '__main__':
    unittest.main()
