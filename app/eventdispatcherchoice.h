#pragma once

// Which event dispatcher the program runs on. It is chosen when the application object is
// created, from the environment, so it has to be decided before that.
//
// Without a screen (the offscreen platform) nothing needs GLib's main loop: there is no
// desktop integration and no native dialog. Qt's own dispatcher serves a host's poll with
// fewer system calls (GLib wakes its context whenever a socket notifier is switched on or
// off, which every reply does) and fewer instructions. Windowed runs keep GLib.

// True when this run uses the offscreen platform: `-platform NAME` (or `--platform NAME`) on
// the command line wins over QT_QPA_PLATFORM, as for the application object; platform
// options after a colon do not count.
bool offscreenPlatformChosen(int argc, char **argv);

// Asks for Qt's own event dispatcher (QT_NO_GLIB) on the offscreen platform, unless the
// environment already says which one it wants (QT_NO_GLIB set, even empty). Returns whether
// it set the variable, so that the caller can take it back once the application exists and
// programs started later get the environment the simulator was given.
bool preferQtEventDispatcher(bool offscreen);
