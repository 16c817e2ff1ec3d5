'''Property values for the mock services, written in JSON as [signature, value] pairs.'''

import dbus

_TYPES = {
    'b': dbus.Boolean, 'y': dbus.Byte, 'q': dbus.UInt16, 'u': dbus.UInt32, 't': dbus.UInt64,
    'n': dbus.Int16, 'i': dbus.Int32, 'x': dbus.Int64, 'd': dbus.Double, 's': dbus.String,
    'o': dbus.ObjectPath,
}


def typed(value):
    signature, plain = value
    if signature == 'ay':
        return dbus.ByteArray(plain.encode() + b'\0', variant_level=1)
    return _TYPES[signature](plain, variant_level=1)


def typed_dict(properties):
    return dbus.Dictionary({name: typed(value) for name, value in properties.items()},
                           signature='sv')
