'''BlueZ with one adapter and the devices given as parameters, with or without a battery.'''

import dbus
import dbusmock
from dbusmock.templates import bluez5

BUS_NAME = bluez5.BUS_NAME
MAIN_OBJ = bluez5.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True


def load(mock, parameters):
    bluez5.load(mock, parameters)
    # The adapter and device helpers announce themselves through the root object, which the
    # mock registers only after loading its template.
    dbusmock.mockobject.objects[MAIN_OBJ] = mock
    bluez5.AddAdapter(mock, 'hci0', 'host')
    for device in parameters.get('devices', []):
        path = bluez5.AddDevice(mock, 'hci0', device['address'], device['alias'])
        if 'battery' in device:
            dbusmock.get_object(path).AddProperties(
                'org.bluez.Battery1', {'Percentage': dbus.Byte(device['battery'], variant_level=1)})
