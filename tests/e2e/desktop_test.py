"""The program on a user's desktop: a second start tells that the first one was brought to
the front, and the window speaks the user's language."""

import os
import subprocess
import unittest

import harness


# The locale (LANG) or option that starts the program, and the About box's title then.
LANGUAGES = [
    ('an English locale', 'en_US.UTF-8', [], 'About Morvane'),
    ('a Japanese locale', 'ja_JP.UTF-8', [], 'バージョン情報'),
    ('the C locale, which names no language', 'C.UTF-8', [], 'バージョン情報'),
    ('--lang=ja over an English locale', 'en_US.UTF-8', ['--lang=ja'], 'バージョン情報'),
    ('--lang=en over a Japanese locale', 'ja_JP.UTF-8', ['--lang=en'], 'About Morvane'),
]


class SecondStart(unittest.TestCase):
    def test_second_start_says_the_first_window_was_brought_to_the_front(self):
        with harness.Session(x=True, pulse=True) as session:
            program, window, home = session.start_morvane()
            second = session.run([os.path.join(home, 'morvane')], timeout=20)
            self.assertEqual(second.returncode, 0)
            self.assertEqual(second.stderr, 'morvane: Morvane is already running; its window '
                                            'was brought to the front\n')
            self.assertIsNone(program.poll(), 'the first start ended')


class Language(unittest.TestCase):
    def test_the_window_speaks_the_locale_s_language(self):
        for what, lang, args, about_title in LANGUAGES:
            with self.subTest(what), harness.Session(x=True, pulse=True) as session:
                session.env['LANG'] = lang
                program, window, home = session.start_morvane(args=args)
                session.click(window, 'about')
                session.wait_for_window(program, '^%s$' % about_title)


if __name__ == '__main__':
    unittest.main()
