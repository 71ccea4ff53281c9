"""The user guide keeps up with the program: every text the program shows in a message box in
its own words (the failure table's, and the exit question) is in the guide with what to do."""

import os
import re
import unittest
from pathlib import Path

APP = Path(os.environ["KV_SOURCE_DIR"]) / "app"


class Guide(unittest.TestCase):
    def test_every_box_text_is_explained(self):
        guide = (APP.parent / "GUIDE.ru.md").read_text(encoding="utf-8")
        texts = re.findall(r'\{Failure::\w+, \{"[^"]*", L"([^"]+)"', (APP / "MessageBoxes.cpp").read_text(encoding="utf-8"))
        texts += re.findall(r'kExitQuestionText\[\] = L"([^"]+)"', (APP / "MessageBoxes.h").read_text(encoding="utf-8"))
        self.assertEqual(11, len(texts), texts)
        for text in texts:
            with self.subTest(text=text):
                # A list item: the text in quotes, a dash, then what it means and what to do.
                self.assertRegex(guide, r"\n- «%s» — \w" % re.escape(text))


if __name__ == "__main__":
    unittest.main()
