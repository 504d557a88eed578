"""The plugin's controller bindings come back with a session in a real host: jalv loads a saved
state (-l) whose bindings give the cutoff to CC20, let CC74 go and bind aftertouch to the filter
intensity, and plays the MIDI test's events from the private JACK server. The recording is bit
for bit the offline rendering of the same events with a settings file whose MIDI section holds
the same bindings, so the state was in place before the first event."""

import os
import unittest

import harness
import lv2_jalv_test
import midi_test

URI = 'urn:morvane:synth'
BINDINGS = 'CC20=VCF_CUTOFF\nCC74=\nAT=VCF_INTENSITY\n'
# What a host saves for the instance: no port values, so the ports keep their defaults.
STATE = '''@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .

<>
    a pset:Preset ;
    lv2:appliesTo <%s> ;
    state:state [
        <urn:morvane:bindings> """morvane-bindings 1
%s"""
    ] .
''' % (URI, BINDINGS)


class SavedBindings(unittest.TestCase):
    def test_a_restored_instance_plays_as_the_offline_rendering_with_its_bindings(self):
        harness.allowing_an_underrun(self.play_through_jalv)

    def play_through_jalv(self):
        rate = harness.RATE
        with harness.Session(jack=rate) as session:
            saved = os.path.join(session.directory, 'saved')
            os.mkdir(saved)
            with open(os.path.join(saved, 'state.ttl'), 'w') as f:
                f.write(STATE)
            # jalv takes the plugin from the state.
            player, song = lv2_jalv_test.play_song(self, session, ['-l', saved], rate)
            settings = os.path.join(session.directory, 'morvane.ini')
            with open(settings, 'w') as f:
                f.write('[MIDI]\n' + BINDINGS)
            reference = midi_test.render(session, song, rate, '--ini', settings)
            midi_test.assert_found(reference, player, rate // 50)


if __name__ == '__main__':
    unittest.main()
