#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <mutex>

#include "core/Log.h"

class Preferences;

// Collects "[Tag] message" lines while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString& fragment) const;
private:
    mutable std::mutex mutex_;
    QStringList lines_;
    SystemLog::Sink previous_;
};

// Points $HOME at a fresh temporary directory for the test's lifetime.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const { return dir_.filePath(relative); }
private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Installs a fresh in-memory preference store for the test's lifetime.
class ScopedMemoryPreferences {
public:
    ScopedMemoryPreferences();
    ~ScopedMemoryPreferences();
    Preferences& prefs() { return *current_; }
private:
    Preferences* current_;
    Preferences* previous_;
};

// Spins the event loop until `pred` holds or `timeoutMs` passes; returns pred().
template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs = 5000);

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired()) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Writes `text` to `path`, creating parent directories.
bool writeTextFile(const QString& path, const QByteArray& text);
