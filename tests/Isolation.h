// The test programs print, play sounds and draw, and none of it may reach the
// machine they run on: not its printers, not its sound server, not its
// display. Each test program calls this first thing in main, before any
// library that reads these variables is loaded, so it holds however the
// program is started (CTest, by hand, the fuzzer).
#pragma once

#include <QByteArray>
#include <QtGlobal>

inline void IsolateFromTheMachine()
{
    // The print library asks a server at a socket that is never made, so the
    // print dialog and the printer list see no printer at all, and no default
    // printer named by the user's environment. Without the system bus it
    // finds no network printers either.
    qputenv("CUPS_SERVER", "/nonexistent/slabix-tests/cups.sock");
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/slabix-tests/system-bus");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    // The sound library likewise; with a server named it never starts one of
    // its own.
    qputenv("PULSE_SERVER", "unix:/nonexistent/slabix-tests/pulse.sock");
    // No display: Qt's offscreen platform, and the sound library cannot read
    // a server's address from a display's root window.
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
}
