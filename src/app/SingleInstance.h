#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <functional>
#include <memory>

// Only one copy of the program runs at a time. The first copy holds a lock on a file in the
// user's runtime folder and listens on a local socket beside it, both named after the
// program's default title; a later copy finds the lock taken, connects to the socket (which
// asks the first copy to come to the front) and ends. A lock left by a copy that crashed is
// taken over: the lock file names the process that held it.
class TSingleInstance {
  public:
    // folder: where the lock and the socket live; name: the default title ("morvandle").
    TSingleInstance(const QString& folder, const QString& name);
    ~TSingleInstance();

    // True for the first copy, which then listens for later ones. False when another copy
    // runs; it has been asked to come to the front (waiting at most a second for it).
    bool Acquire();

    // First copy: a later copy asked for the window.
    std::function<void()> OnActivate;

  private:
    QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
};

// The default title: the program file's name without its folder, cut before its first dot,
// every character after the first in small letters ("/usr/bin/Morvandle.bin" -> "Morvandle").
QString DefaultTitle(const QString& programPath);

// $XDG_RUNTIME_DIR, else the temporary folder.
QString RuntimeFolder();
