#include "support/TestSupport.h"

#include "core/Preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

LogCapture::LogCapture() {
    previous_ = SystemLog::setSink([this](const QString& line) {
        std::lock_guard lock(mutex_);
        lines_ << line;
    });
}

LogCapture::~LogCapture() { SystemLog::setSink(std::move(previous_)); }

QStringList LogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogCapture::contains(const QString& fragment) const {
    std::lock_guard lock(mutex_);
    for (const QString& l : lines_)
        if (l.contains(fragment)) return true;
    return false;
}

TempHome::TempHome() {
    hadPrevious_ = qEnvironmentVariableIsSet("HOME");
    previous_ = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(dir_.path()));
}

TempHome::~TempHome() {
    if (hadPrevious_) qputenv("HOME", previous_);
    else qunsetenv("HOME");
}

ScopedMemoryPreferences::ScopedMemoryPreferences() : current_(new MemoryPreferences) {
    previous_ = Preferences::setShared(current_);
}

ScopedMemoryPreferences::~ScopedMemoryPreferences() { delete Preferences::setShared(previous_); }

bool writeTextFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(text) == text.size();
}
