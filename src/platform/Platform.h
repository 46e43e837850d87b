#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Permissions the session needs. Nothing gates capture on a plain Linux desktop, so the session's
// checks answer "granted" there and the capture engine reports a missing device itself; a
// sandbox backend can say otherwise. check() answers what the first-launch walkthrough's rows
// mean on this platform.
class Permissions {
public:
    enum class Status { notDetermined, restricted, denied, authorized };
    // The walkthrough's three rows.
    struct Report {
        bool microphone = false;  // the sound server lists an input that is not a monitor
        bool systemAudio = false; // the default output's monitor can be recorded
        bool speech = false;      // the on-device recognizer's model is installed
        friend bool operator==(const Report&, const Report&) = default;
    };
    virtual ~Permissions() = default;
    virtual Status microphoneStatus() = 0;
    // Answers on the main thread.
    virtual void requestMicrophone(std::function<void(bool granted)> completion) = 0;
    virtual bool screenCapturePreflight() = 0;
    virtual bool requestScreenCapture() = 0;
    // Asks the sound server and the disk afresh, which can take a moment: call it off the GUI
    // thread. Thread-safe.
    virtual Report check() = 0;
};

// The real checks behind the desktop's Permissions::check(); any may be unset (reads false).
struct PermissionProbes {
    std::function<bool()> microphone;
    std::function<bool()> systemAudio;
    std::function<bool()> speech;
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

// Shows files selected in the desktop's file manager, or opens one in the program the desktop
// gives its kind (a page in the browser).
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const QStringList& paths) = 0;
    virtual void open(const QString& path) = 0;
};

// The Linux desktop's own services.
std::unique_ptr<Permissions> makeDesktopPermissions(PermissionProbes probes = {});

// The command that opens the desktop's sound settings: GNOME's panel on GNOME, KDE's on Plasma,
// else pavucontrol; empty when none of them is installed. `currentDesktop` is
// XDG_CURRENT_DESKTOP; `installed` says whether a program is on the PATH.
QStringList soundSettingsCommand(const QString& currentDesktop,
                                 const std::function<bool(const QString& program)>& installed);
// Starts that command detached; false when there is none or it could not start.
bool openSoundSettings();
std::unique_ptr<SleepInhibitor> makeDesktopSleepInhibitor();
std::unique_ptr<FileRevealer> makeDesktopFileRevealer();
