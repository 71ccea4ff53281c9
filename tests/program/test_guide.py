"""The user guide keeps up with the program: every text the program shows in a message box in
its own words, and the exit question, is in the guide with what to do about it."""

import os
import re
import unittest
from pathlib import Path

SOURCE = Path(os.environ["KV_SOURCE_DIR"])
CAPTIONS = ("kErrorCaption", "kExitQuestionCaption")


def box_texts():
    """The texts of app/MessageBoxes: the failure table's and the exit question, not the captions."""
    source = "".join((SOURCE / "app" / name).read_text(encoding="utf-8") for name in ("MessageBoxes.h",
                                                                                     "MessageBoxes.cpp"))
    captions = {re.search(r'%s\[\] = L"([^"]*)"' % name, source).group(1) for name in CAPTIONS}
    return set(re.findall(r'L"([^"]+)"', source)) - captions


class Guide(unittest.TestCase):
    def test_every_box_text_is_explained(self):
        guide = (SOURCE / "GUIDE.ru.md").read_text(encoding="utf-8")
        texts = box_texts()
        self.assertGreaterEqual(len(texts), 9, texts)
        for text in texts:
            with self.subTest(text=text):
                # As a list item: the text in quotes, a dash, then what it means and what to do.
                self.assertRegex(guide, r"\n- «%s» — \w" % re.escape(text))


if __name__ == "__main__":
    unittest.main()
