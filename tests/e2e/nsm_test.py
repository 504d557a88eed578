"""Morvane under a session manager: the test plays the manager over OSC (NSM). The program
announces itself, opens its files in the folder the session gives, names its JACK client
after its client id, saves on the save message and ends cleanly on SIGTERM."""

import glob
import os
import signal
import time
import unittest

import liblo

import harness

CLIENT_ID = 'nMRVN'
ANNOUNCE = '/nsm/server/announce'
OPEN = '/nsm/client/open'
SAVE = '/nsm/client/save'


class Manager:
    """A session manager that opens the session for whoever announces itself, on a thread
    of its own, and keeps every message it receives."""

    def __init__(self, client_folder, refuse=False):
        self.client_folder = client_folder
        self.refuse = refuse
        self.messages = []
        self.server = liblo.ServerThread(proto=liblo.UDP)
        self.server.add_method(None, None, self.receive)
        self.server.start()

    def receive(self, path, args, types, source):
        self.messages.append((path, args))
        if path == ANNOUNCE and self.refuse:
            self.server.send(source, '/error', ANNOUNCE, -3, 'not in this session')
        elif path == ANNOUNCE:
            self.server.send(source, '/reply', ANNOUNCE, 'welcome', 'test manager',
                             ':server-control:')
            self.server.send(source, OPEN, self.client_folder, 'Morvane test', CLIENT_ID)
        self.client = source

    def wait_for(self, path, first):
        """The arguments of the first message to path whose first argument is first."""
        found = []

        def arrived():
            found[:] = [args for p, args in self.messages if p == path and args[:1] == [first]]
            return bool(found)

        harness.wait_until(arrived, '%s %s' % (path, first))
        return found[0]

    def close(self):
        self.server.stop()
        self.server.free()


class SessionManager(unittest.TestCase):
    def test_announce_open_save_quit(self):
        with harness.Session(x=True, jack=True) as session:
            folder = os.path.join(session.directory, 'session', 'Morvane.' + CLIENT_ID)
            manager = Manager(folder)
            try:
                session.env['NSM_URL'] = manager.server.url
                program, window, home = session.start_morvane()
                announce = [args for path, args in manager.messages if path == ANNOUNCE][0]
                self.assertEqual(announce[:2], ['Morvane', ''])
                self.assertEqual(announce[3:], [1, 2, program.pid])
                self.assertEqual(manager.wait_for('/reply', OPEN), [OPEN, 'opened'])
                self.assertTrue(os.path.isdir(folder))
                ports = session.run(['jack_lsp']).stdout.split()
                self.assertIn(CLIENT_ID + ':out', ports)

                session.click(window, 'record')
                time.sleep(0.5)
                session.click(window, 'record')
                manager.server.send(manager.client, SAVE)
                self.assertEqual(manager.wait_for('/reply', SAVE), [SAVE, 'saved'])
                with open(os.path.join(folder, 'morvane.ini')) as f:
                    self.assertIn('TUNING=4400', f.read())

                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(harness.STOP_TIMEOUT), 0)
                self.assertEqual(sorted(os.listdir(folder))[-1], 'morvane.ini')
                self.assertEqual(len(glob.glob(os.path.join(folder, '*-*.wav'))), 1)
                self.assertEqual(len(os.listdir(folder)), 2)
                self.assertFalse(os.path.exists(os.path.join(home, 'morvane.ini')))
            finally:
                manager.close()

    def test_a_manager_that_refuses_leaves_the_program_on_its_own(self):
        with harness.Session(x=True, pulse=True) as session:
            folder = os.path.join(session.directory, 'session', 'Morvane.' + CLIENT_ID)
            manager = Manager(folder, refuse=True)
            try:
                session.env['NSM_URL'] = manager.server.url
                program, window, home = session.start_morvane()
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(harness.STOP_TIMEOUT), 0)
                with open(os.path.join(home, 'output')) as f:
                    self.assertIn('morvane: the session manager refused Morvane: not in this '
                                  'session; starting on its own\n', f.read())
                self.assertFalse(os.path.exists(folder))
            finally:
                manager.close()


if __name__ == '__main__':
    unittest.main()
