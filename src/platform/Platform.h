#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Permissions the session needs. On a plain Linux desktop every answer is "granted"; a sandbox
// backend can say otherwise.
class Permissions {
public:
    enum class Status { notDetermined, restricted, denied, authorized };
    virtual ~Permissions() = default;
    virtual Status microphoneStatus() = 0;
    // Answers on the main thread.
    virtual void requestMicrophone(std::function<void(bool granted)> completion) = 0;
    virtual bool screenCapturePreflight() = 0;
    virtual bool requestScreenCapture() = 0;
};

// Keeps the machine from idle sleep while a session runs. Best effort: never fails visibly.
class SleepInhibitor {
public:
    class Token {
    public:
        virtual ~Token() = default; // releasing the token ends the inhibition
    };
    virtual ~SleepInhibitor() = default;
    virtual std::unique_ptr<Token> begin(const QString& reason) = 0;
};

// Shows files selected in the desktop's file manager.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const QStringList& paths) = 0;
};

// The Linux desktop's own services.
std::unique_ptr<Permissions> makeDesktopPermissions();
std::unique_ptr<SleepInhibitor> makeDesktopSleepInhibitor();
std::unique_ptr<FileRevealer> makeDesktopFileRevealer();
