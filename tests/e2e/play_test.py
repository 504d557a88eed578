"""morvane-render --play: the sound device receives exactly the samples of the offline render,
also while a JACK server runs beside the sound server."""

import os
import unittest

import harness

# A chord held and released into the echo: every stage of the engine, and a tail to the end.
SCORE = '''param ECHO_DEPTH 60
param ECHO_TIME 150
on 4
on 8
on 11
render 50
off 4
off 8
off 11
render 60
'''

# With JACK_DEFAULT_SERVER naming the private JACK server, the audio library finds it while
# it looks for devices; playing must still go to the default output, unchanged.
SETUPS = [('sound server alone', False), ('beside a JACK server', True)]


class Play(unittest.TestCase):
    def test_the_played_score_is_its_offline_rendering(self):
        for what, jack in SETUPS:
            with self.subTest(what):
                harness.allowing_an_underrun(lambda: self.play(jack))

    def play(self, jack):
        with harness.Session(pulse=True, jack=jack) as session:
            score = os.path.join(session.directory, 'chord.score')
            with open(score, 'w') as f:
                f.write(SCORE)
            with session.capture() as capture:
                played = session.run([os.environ['MORVANE_RENDER'], '--play', score], check=False)
            self.assertEqual(played.returncode, 0, played.stderr)
            harness.find_reference(session.render(SCORE), capture.samples)
            if jack:
                # The JACK server outlived the player, and stops cleanly by its PID.
                session.server('jack').check_alive()
                session.server('jack').stop()


if __name__ == '__main__':
    unittest.main()
