'''NetworkManager stand-in for the access-point join tests.

The stock networkmanager template of python3-dbusmock plus what a join needs and the template
lacks: AddAndActivateConnection2 (playing a join that comes up, fails, is refused or never
completes) and a GetPermissions that answers. Parameters (JSON):
  wifi:  true  -> a Wi-Fi device "wlan0" (default true)
  home:  true  -> a saved connection "HomeNet" active on it before the join (default true)
  join:  "activate" | "fail" | "stall" | "refuse" | "late" | "teardown" (default "activate");
         "late" answers the join request only after LATE_S seconds, then comes up; "teardown"
         goes to deactivating and stays there
  wifi_state: the Wi-Fi device's state, "disconnected" (default), "unavailable" (radio off) or
         "unmanaged"
  second: true -> a second Wi-Fi device "wlan1", disconnected and idle (default false)
Mock methods for the tests: SetPermission(action, answer), SetJoinMode(mode), LastJoin(),
DeviceConnection() (the settings path of the device's active connection, "" when idle),
Activations() (the connections asked for by ActivateConnection, in order).
'''

import time

import dbus
from gi.repository import GLib

import dbusmock
from dbusmock import MOCK_IFACE
from dbusmock.templates import networkmanager as _nm
from dbusmock.templates.networkmanager import *  # noqa: F401,F403 pylint: disable=wildcard-import,unused-wildcard-import

DEVICE = '/org/freedesktop/NetworkManager/Devices/wlan0'
ACTIONS = ['org.freedesktop.NetworkManager.network-control',
           'org.freedesktop.NetworkManager.settings.modify.own',
           'org.freedesktop.NetworkManager.settings.modify.system',
           'org.freedesktop.NetworkManager.wifi.share.open',
           'org.freedesktop.NetworkManager.wifi.share.protected']
# How long a played join takes before it comes up or fails (ms).
STEP_MS = 100
LATE_S = 0.8


def load(mock, parameters):
    _nm.load(mock, parameters)
    manager = dbusmock.get_object(_nm.MANAGER_OBJ)
    manager.permissions = {action: 'yes' for action in ACTIONS}
    manager.join_mode = parameters.get('join', 'activate')
    manager.last_join = ''
    manager.joins = 0
    manager.join2 = _join2
    manager.AddMethods(_nm.MANAGER_IFACE, [
        ('GetPermissions', '', 'a{ss}', 'ret = self.permissions'),
        ('AddAndActivateConnection2', 'a{sa{sv}}ooa{sv}', 'ooa{sv}',
         'ret = self.join2(self, args[0], args[1], args[2], args[3])'),
    ])
    if not parameters.get('wifi', True):
        mock.AddEthernetDevice('eth0', 'eth0', _nm.DeviceState.ACTIVATED)
        return
    states = {'disconnected': _nm.DeviceState.DISCONNECTED,
              'unavailable': _nm.DeviceState.UNAVAILABLE,
              'unmanaged': _nm.DeviceState.UNMANAGED}
    state = states[parameters.get('wifi_state', 'disconnected')]
    mock.AddWiFiDevice('wlan0', 'wlan0', state)
    if parameters.get('second', False):
        mock.AddWiFiDevice('wlan1', 'wlan1', _nm.DeviceState.DISCONNECTED)
    # A device with its radio off, or not managed, has no connection running.
    if parameters.get('home', True) and state == _nm.DeviceState.DISCONNECTED:
        ap = mock.AddAccessPoint(DEVICE, 'home', 'HomeNet', '00:11:22:33:44:55',
                                 _nm.InfrastructureMode.NM_802_11_MODE_INFRA, 2437, 54000, 80,
                                 _nm.NM80211ApSecurityFlags.NM_802_11_AP_SEC_KEY_MGMT_PSK)
        conn = mock.AddWiFiConnection(DEVICE, 'HomeNet', 'HomeNet', 'wpa-psk')
        mock.AddActiveConnection([DEVICE], conn, ap, 'home',
                                 _nm.NMActiveConnectionState.NM_ACTIVE_CONNECTION_STATE_ACTIVATED)


def _set_state(active_path, state, device_reason=0):
    active = dbusmock.get_object(active_path)
    active.Set(_nm.ACTIVE_CONNECTION_IFACE, 'State', dbus.UInt32(state))
    active.EmitSignal(_nm.ACTIVE_CONNECTION_IFACE, 'StateChanged', 'uu',
                      [dbus.UInt32(state), dbus.UInt32(0)])
    if device_reason:
        device = dbusmock.get_object(DEVICE)
        device.Set(_nm.DEVICE_IFACE, 'State', dbus.UInt32(_nm.DeviceState.FAILED))
        device.Set(_nm.DEVICE_IFACE, 'StateReason',
                   (dbus.UInt32(_nm.DeviceState.FAILED), dbus.UInt32(device_reason)))
    return False  # a GLib timeout that runs once


def _join2(self, settings, device, _specific, options):
    wireless = settings.get('802-11-wireless', {})
    security = settings.get('802-11-wireless-security', {})
    self.last_join = ';'.join([
        'ssid=' + bytes(wireless.get('ssid', [])).decode('utf-8'),
        'key-mgmt=' + str(security.get('key-mgmt', '')),
        'psk=' + str(security.get('psk', '')),
        'persist=' + str(options.get('persist', '')),
        'bind=' + str(options.get('bind-activation', '')),
        'device=' + str(device),
        'autoconnect=' + str(bool(settings['connection'].get('autoconnect', True))).lower(),
        'permissions=' + ','.join(str(p) for p in settings['connection'].get('permissions', [])),
    ])
    if self.join_mode == 'refuse':
        raise dbus.exceptions.DBusException('Not authorized to control networking.',
                                            name='org.freedesktop.NetworkManager.PermissionDenied')
    if self.join_mode == 'late':
        time.sleep(LATE_S)  # the whole stand-in waits, as if polkit were asking the user
    settings_obj = dbusmock.get_object(_nm.SETTINGS_OBJ)
    conn = settings_obj.SettingsAddConnection(settings)
    # The device leaves whatever it was connected to.
    previous = dbusmock.get_object(device).Get(_nm.DEVICE_IFACE, 'ActiveConnection')
    if str(previous) != '/':
        self.RemoveActiveConnection(device, previous)
    self.joins += 1
    active = self.AddActiveConnection(
        [device], conn, '/', 'join%d' % self.joins,
        _nm.NMActiveConnectionState.NM_ACTIVE_CONNECTION_STATE_ACTIVATING)
    if self.join_mode in ('activate', 'late'):
        GLib.timeout_add(STEP_MS, _set_state, active,
                         _nm.NMActiveConnectionState.NM_ACTIVE_CONNECTION_STATE_ACTIVATED)
    elif self.join_mode == 'teardown':
        GLib.timeout_add(STEP_MS, _set_state, active,
                         _nm.NMActiveConnectionState.NM_ACTIVE_CONNECTION_STATE_DEACTIVATING)
    elif self.join_mode == 'fail':
        # 8: the supplicant disconnected, what a wrong password ends with.
        GLib.timeout_add(STEP_MS, _set_state, active,
                         _nm.NMActiveConnectionState.NM_ACTIVE_CONNECTION_STATE_DEACTIVATED, 8)
    return (dbus.ObjectPath(conn), dbus.ObjectPath(active), dbus.Dictionary({}, signature='sv'))


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetPermission(_self, action, answer):
    dbusmock.get_object(_nm.MANAGER_OBJ).permissions[action] = answer


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def SetJoinMode(_self, mode):
    dbusmock.get_object(_nm.MANAGER_OBJ).join_mode = mode


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def LastJoin(_self):
    return dbusmock.get_object(_nm.MANAGER_OBJ).last_join


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def DeviceConnection(_self):
    active = str(dbusmock.get_object(DEVICE).Get(_nm.DEVICE_IFACE, 'ActiveConnection'))
    if active == '/':
        return ''
    return str(dbusmock.get_object(active).Get(_nm.ACTIVE_CONNECTION_IFACE, 'Connection'))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Activations(_self):
    manager = dbusmock.get_object(_nm.MANAGER_OBJ)
    return [str(row[2][0]) for row in manager.call_log if row[1] == 'ActivateConnection']
