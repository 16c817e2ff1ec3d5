'''UPower with the devices given as parameters, or one whose EnumerateDevices never answers.'''

import os
import sys
import time

from dbusmock.templates import upower

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from typed_values import typed_dict  # noqa: E402

BUS_NAME = upower.BUS_NAME
MAIN_OBJ = upower.MAIN_OBJ
MAIN_IFACE = upower.MAIN_IFACE
SYSTEM_BUS = True


def _never_answer(_self):
    time.sleep(60)
    return []


def load(mock, parameters):
    if parameters.get('hang'):
        mock.AddMethods(MAIN_IFACE, [('EnumerateDevices', '', 'ao', _never_answer)])
        return
    upower.load(mock, parameters)
    for name, properties in parameters.get('devices', {}).items():
        mock.AddObject(MAIN_OBJ + '/devices/' + name, upower.DEVICE_IFACE,
                       typed_dict(properties), [])
