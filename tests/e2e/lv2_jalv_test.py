"""The LV2 plugin in a real host: jalv runs it on the private JACK server, at the engine's rate
and at 48000 Hz, a client of the test plays MIDI to its "midi_in" and records its "out", and the
recording is bit for bit the offline rendering at that rate of the same events written as a
MIDI file: each event applies at its own sample, counted from the plugin's activation.

The events are the standalone's JACK test's. Its program change, which loads a preset there,
is ignored by the plugin; rendered without a settings file it loads the default sound, which
the plugin plays already. No aftertouch is bound without a settings file, in the plugin or the
renderer, and both listen to every channel."""

import os
import subprocess
import unittest

import harness
import midi_test

CLIENT = 'morvane-lv2'
URI = 'urn:morvane:synth'


class Jalv(unittest.TestCase):
    def test_midi_to_the_plugin_plays_as_the_offline_rendering_of_its_file(self):
        for rate in (harness.RATE, 48000):
            with self.subTest(rate=rate):
                harness.allowing_an_underrun(lambda: self.play_through_jalv(rate))

    def play_through_jalv(self, rate):
        with harness.Session(jack=rate) as session:
            player, song = play_song(self, session, [URI], rate)
            midi_test.assert_found(midi_test.render(session, song, rate), player, rate // 50)


def play_song(test, session, jalv_arguments, rate):
    """Runs jalv with the arguments (the plugin's URI, or a saved state) on the session's JACK
    server, plays the MIDI test's events into it while recording its output, and writes the
    same events as a MIDI file: the player holds the recording, the file is for the renderer."""
    session.env['LV2_PATH'] = os.path.dirname(os.environ['MORVANE_LV2_BUNDLE'])
    log = open(os.path.join(session.directory, 'jalv.log'), 'wb')
    # jalv's console reads commands from its input and ends at its end: keep it open.
    jalv = subprocess.Popen(['jalv', '-x', '-n', CLIENT] + jalv_arguments, env=session.env,
                            stdin=subprocess.PIPE, stdout=log, stderr=log)
    session.programs.append(jalv)

    def ports_shown():
        if jalv.poll() is not None:
            raise harness.E2eError('jalv ended (status %d)' % jalv.returncode)
        ports = session.run(['jack_lsp'], check=False).stdout.split()
        return CLIENT + ':midi_in' in ports and CLIENT + ':out' in ports

    harness.wait_until(ports_shown, 'the plugin\'s ports')
    player = midi_test.Player(session.env['JACK_DEFAULT_SERVER'], rate=rate)
    with player.client:
        player.client.connect(player.midi, CLIENT + ':midi_in')
        player.client.connect(CLIENT + ':out', player.audio)
        player.armed = True
        test.assertTrue(player.done.wait(30), 'the recording did not finish')
    test.assertIsNone(jalv.poll(), 'jalv ended')
    song = os.path.join(session.directory, 'song.mid')
    with open(song, 'wb') as f:
        f.write(midi_test.midi_file(midi_test.EVENTS, midi_test.LAST_BLOCK, rate))
    return player, song


if __name__ == '__main__':
    unittest.main()
