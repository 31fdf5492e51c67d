"""The layout check against the tree, and against planted arrows."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import check_layout  # noqa: E402

ROOT = os.environ.get("CVN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


class LayoutTest(unittest.TestCase):
    def test_the_tree_keeps_the_rule(self):
        self.assertEqual(check_layout.check(ROOT), [])

    def test_each_arrow_against_the_rule_is_named(self):
        cells = [  # file, line, faulted
            ("io/A.cpp", '#include "host/Capture.h"', True),  # up
            ("host/B.cpp", '#include "io/IoSession.h"', True),  # host reaches into the add-in
            ("sim/instrument/C.cpp", '#include "scope/ModelTable.h"', True),  # the add-in's table
            ("measure/D.cpp", '#include "setupfile/CSetupFile.h"', True),  # sideways
            ("io/E.cpp", "#include <QWidget>", True),  # widgets outside the window folders
            ("host/F.cpp", '#include "tests/host/HostFixture.h"', True),  # in no folder of the rule
            ("apps/wavecatch/G.cpp", '#include "io/IoSession.h"', False),  # down, through bench
            ("dialog/H.cpp", "#include <QDialog>", False),
            ("sim/fronts/I.cpp", '#include "io/UsbtmcPort.h"', False),
            ("host/formats/J.cpp", '#include "cvnWCHalv.h"', False),
        ]
        for path, line, faulted in cells:
            with self.subTest(path=path), tempfile.TemporaryDirectory() as root:
                os.makedirs(os.path.join(root, os.path.dirname(path)))
                with open(os.path.join(root, path), "w") as f:
                    f.write(line + "\n")
                faults = check_layout.check(root)
                self.assertEqual(bool(faults), faulted, faults)
                if faulted:
                    self.assertIn(path + ":1:", faults[0])


if __name__ == "__main__":
    unittest.main()
