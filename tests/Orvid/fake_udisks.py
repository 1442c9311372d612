'''A disk service with one block device and its drive, for the ejection tests.

Parameters: "block" (kernel name of the block device), "busy" (how many unmount requests are
refused as busy; -1 for all), "refuse_power" (power-off requests are refused), "log" (a file
that receives one line per request with a monotonic time stamp).
'''
import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True


def load(mock, parameters):
    log = parameters['log']
    drive = '/org/freedesktop/UDisks2/drives/Fake_Reader'
    block = '/org/freedesktop/UDisks2/block_devices/' + parameters.get('block', 'sdb1')

    mock.AddObject(block, 'org.freedesktop.UDisks2.Block',
                   {'Drive': dbus.ObjectPath(drive)}, [])
    device = mockobject.objects[block]
    device.busy_left = int(parameters.get('busy', 0))
    device.AddMethod('org.freedesktop.UDisks2.Filesystem', 'Unmount', 'a{sv}', '', f'''
import time, dbus
with open({log!r}, 'a') as f:
    f.write('Unmount %.3f\\n' % time.monotonic())
if self.busy_left != 0:
    self.busy_left -= 1
    raise dbus.exceptions.DBusException('target is busy',
                                        name='org.freedesktop.UDisks2.Error.DeviceBusy')
''')

    refuse = bool(parameters.get('refuse_power', False))
    mock.AddObject(drive, 'org.freedesktop.UDisks2.Drive', {}, [])
    mockobject.objects[drive].AddMethod('org.freedesktop.UDisks2.Drive', 'PowerOff', 'a{sv}', '', f'''
import time, dbus
with open({log!r}, 'a') as f:
    f.write('PowerOff %.3f\\n' % time.monotonic())
if {refuse!r}:
    raise dbus.exceptions.DBusException('not authorized',
                                        name='org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain')
''')
