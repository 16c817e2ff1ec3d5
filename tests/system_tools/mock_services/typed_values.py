'''Property values for the mock services, written in JSON as [signature, value] pairs.'''

import dbus

_TYPES = {'b': dbus.Boolean, 'y': dbus.Byte, 'q': dbus.UInt16, 'u': dbus.UInt32,
          't': dbus.UInt64, 'd': dbus.Double, 's': dbus.String}


def typed_dict(properties):
    return dbus.Dictionary({name: _TYPES[signature](value, variant_level=1)
                            for name, (signature, value) in properties.items()}, signature='sv')
