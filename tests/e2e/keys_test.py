"""A person plays the synthesizer: a key or an on-screen key held, the sound bit for bit.

Each press runs in a freshly started program, so the engine starts from the very state the
offline renderer starts from, and the captured note must equal its offline rendering."""

import time
import unittest

import harness

# Held past the auto-repeat delay (660 ms), so the repeats of a held key arrive as well.
HOLD = 1.0
# The part compared: 600 ms from the first sample, which all lies before the release.
COMPARED_BLOCKS = 30

# What the person does, and the instrument key (0..40) it must sound. Keys are sent as X
# keycodes: the instrument reads positions, whatever the layout. {window} is the window id.
PRESSES = [
    ('Z, lowest white key', ['keydown', '52'], ['keyup', '52'], 1),
    ('1, upper row black key', ['keydown', '10'], ['keyup', '10'], 20),
    ('[, highest key', ['keydown', '35'], ['keyup', '35'], 40),
    ('click on the on-screen Z', ['mousemove', '--window', '{window}', '40', '450', 'mousedown', '1'],
     ['mouseup', '1'], 1),
]


class HeldNote(unittest.TestCase):
    def test_the_held_note_is_its_offline_rendering(self):
        for what, press, release, key in PRESSES:
            with self.subTest(what), harness.Session(x=True, pulse=True) as session:
                program, window, _ = session.start_morvane()
                with session.capture() as capture:
                    session.run(['xdotool'] + [a.format(window=window) for a in press])
                    time.sleep(HOLD)
                    session.run(['xdotool'] + release)
                self.assertIsNone(program.poll(), 'the program ended')
                reference = session.render('on %d\nrender %d\n' % (key, COMPARED_BLOCKS))
                harness.find_reference(reference, capture.samples)


if __name__ == '__main__':
    unittest.main()
