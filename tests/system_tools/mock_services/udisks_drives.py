'''UDisks2 objects for the drives given as parameters: a block device pointing at its drive, the
drive, and its NVMe controller or ATA interface with SmartGetAttributes, which answers from the
figures of the last update as UDisks 2.9 does. The ATA methods that would wake a sleeping disk
(SmartUpdate, SmartSelftestStart, PmWakeup) append their name to the file `wake_log` names.'''

import os
import sys

import dbus
import dbusmock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from typed_values import typed_dict  # noqa: E402

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

NVME_IFACE = 'org.freedesktop.UDisks2.NVMe.Controller'
ATA_IFACE = 'org.freedesktop.UDisks2.Drive.Ata'


def _answer(value):
    return lambda _self, _options: value


def _waking(name, wake_log):
    def method(_self, *_arguments):
        if wake_log:
            with open(wake_log, 'a', encoding='utf-8') as log:
                log.write(name + '\n')
    return method


def load(mock, parameters):
    wake_log = parameters.get('wake_log')
    for drive in parameters.get('drives', []):
        drive_path = MAIN_OBJ + '/drives/' + drive['name']
        mock.AddObject(drive_path, 'org.freedesktop.UDisks2.Drive',
                       typed_dict(drive.get('drive', {})), [])
        drive_object = dbusmock.get_object(drive_path)
        if 'nvme' in drive:
            drive_object.AddProperties(NVME_IFACE, typed_dict(drive['nvme']))
            attributes = typed_dict(drive.get('attributes', {}))
            drive_object.AddMethod(NVME_IFACE, 'SmartGetAttributes', 'a{sv}', 'a{sv}',
                                   _answer(attributes))
        if 'ata' in drive:
            drive_object.AddProperties(ATA_IFACE, typed_dict(drive['ata']))
            # id, name, flags, value, worst, threshold, pretty value and unit, expansion
            rows = [(row[0], row[1], 0, 100, 100, 0, row[2], row[3], {})
                    for row in drive.get('attributes', [])]
            drive_object.AddMethod(ATA_IFACE, 'SmartGetAttributes', 'a{sv}', 'a(ysqiiixia{sv})',
                                   _answer(rows))
            for method in ('SmartUpdate', 'SmartSelftestStart', 'PmWakeup'):
                drive_object.AddMethod(ATA_IFACE, method, 'a{sv}' if method != 'SmartSelftestStart'
                                       else 'sa{sv}', '', _waking(method, wake_log))
        mock.AddObject(MAIN_OBJ + '/block_devices/' + drive['block'],
                       'org.freedesktop.UDisks2.Block',
                       {'Device': dbus.ByteArray(b'/dev/' + drive['block'].encode() + b'\0',
                                                 variant_level=1),
                        'Drive': dbus.ObjectPath(drive_path, variant_level=1)}, [])
