"""python -m palfill IN [CLUT] OUT: the palfill command, its lines and statuses."""
import sys

from . import _palfill

sys.exit(_palfill.run_command(["python -m palfill", *sys.argv[1:]]))
