"""The name under which pychipctl is documented: vadu_lite.dev_ctrl."""
import sys

from . import pychipctl

# The import system hands out whatever sits in sys.modules under our name, so
# vadu_lite.dev_ctrl becomes the very pychipctl module object.
sys.modules[__name__] = pychipctl
